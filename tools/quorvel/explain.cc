// Why a call failed, said where the user is looking: the lines the call
// added to the component's error log, in UTF-8, on stderr; the reference's
// meaning of the result when it wrote none (SendMail writes no log). A direct
// GetMailPass has no log open and writes none: for its empty text the host
// looks at what the lookup needs and says which is missing.
#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>

#include "base/ascii.h"
#include "mail/files/paths.h"
#include "mail/files/webmail_account.h"
#include "platform/posix/runtime/registry_store.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "quorvel_reference.h"
#include "support/strings.h"
#include "tools/quorvel/cli.h"

namespace quorvel::cli {
namespace {

namespace fs = std::filesystem;

void Say(const std::string& text) { std::fprintf(stderr, "quorvel call: %s\n", text.c_str()); }

const reference::MethodEntry* EntryOf(std::string_view method) {
    for (const reference::MethodEntry& entry : reference::Methods()) {
        if (entry.name == method) return &entry;
    }
    return nullptr;
}

// The reference's rows for one result code.
void SayMeaning(std::string_view method, long code) {
    const reference::MethodEntry* entry = EntryOf(method);
    if (entry == nullptr) return;
    bool any = false;
    for (const reference::ResultRow& row : entry->results) {
        if (row.code != code) continue;
        if (!any) std::fprintf(stderr, "quorvel call: the reference (`quorvel help %s`) says of %ld:\n",
                               std::string(method).c_str(), code);
        any = true;
        std::fprintf(stderr, "  %.*s\n", static_cast<int>(row.meaning.size()), row.meaning.data());
    }
}

// A TCP connection to host:port within a few seconds.
bool Answers(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
    bool connected = false;
    for (addrinfo* a = found; a != nullptr && !connected; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            connected = true;
        } else if (errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int error = 0;
            socklen_t size = sizeof error;
            connected = ::poll(&p, 1, 5000) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
                        error == 0;
        }
        ::close(fd);
    }
    freeaddrinfo(found);
    return connected;
}

// What a direct GetMailPass needs, looked at in its order; the cause of
// its empty text and the code of the line it would have logged.
void ExplainMailLookup(const CallArguments& args) {
    const std::u16string mail_dir = platform::FromUtf8(args.Get(1, "MailDir"));
    const std::u16string list = mail::UserListPath(mail_dir);
    const std::u16string settings = mail::WebmailSettingsPath(mail_dir);
    std::string cause;
    long code = 3;
    if (!mail::HasUserList(mail_dir)) {
        cause = "there is no user list " + platform::ToUtf8(list);
        code = 1;
    } else if (!mail::HasWebmailSettings(mail_dir)) {
        cause = "there are no webmail settings " + platform::ToUtf8(settings);
        code = 1;
    } else if (!FitsCodePage(platform::FromUtf8(args.Get(2, "MailPass")))) {
        cause = "the password holds a character the machine's code page cannot hold";
        code = 1;
    } else {
        const std::u16string port_text = mail::PortSetting(settings);
        const std::string host = args.Get(0, "HttpAddress");
        const int port = mail::PortNumber(port_text);
        if (port == 0) {
            cause = "Port in " + platform::ToUtf8(settings) + " is '" + platform::ToUtf8(port_text) +
                    "', not a port number";
            code = 2;
        } else if (host.empty() || !Answers(host, port)) {
            cause = "nothing answers at " + (host.empty() ? std::string("(no HttpAddress)") : host) + ":" +
                    std::to_string(port) + " (start it with `quorvel webmail --mail-dir '" + platform::ToUtf8(mail_dir) +
                    "' --port 0 --background`)";
            code = 2;
        } else {
            cause = "the webmail server answered, but the user list did not gain the temporary account's record "
                    "as its last line (it refused the form, or a mailbox Quorvel exists)";
        }
    }
    Say("GetMailPass returned the empty text. Called directly it writes no log line; the host finds that " + cause +
        ".");
    SayMeaning("GetMailPass", code);
}

}  // namespace

std::string CallArguments::Get(std::size_t position, std::string_view name) const {
    for (const auto& [key, value] : named) {
        if (base::EqualsIgnoringAsciiCase(key, name)) return value;
    }
    return position < positional.size() ? positional[position] : std::string();
}

LogMark MarkLog() {
    LogMark mark;
    const std::optional<std::string> clsid = posix::registry::GetValue(platform::ToUtf8(kProgId) + "\\CLSID", "");
    if (!clsid) return mark;
    const std::optional<std::string> library = posix::registry::GetValue("CLSID\\" + *clsid + "\\InprocServer32", "");
    if (!library || library->empty()) return mark;
    // The component writes its logs where QUORVEL_LOG_FOLDER says, when set.
    const char* folder = std::getenv("QUORVEL_LOG_FOLDER");
    mark.path = (folder != nullptr && *folder != '\0' ? fs::path(folder) : fs::path(*library).parent_path()) /
                "DllErr.log";
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(mark.path, ec);
    mark.size = ec ? 0 : size;
    return mark;
}

void ExplainResult(std::string_view method, const std::string& result, const LogMark& mark,
                   const CallArguments& args) {
    const bool text_result = method == "GetMailPass";
    if (text_result ? !result.empty() : (result.empty() || result == "0")) return;
    std::string added;
    if (!mark.path.empty()) {
        std::ifstream in(mark.path, std::ios::binary);
        if (in && in.seekg(static_cast<std::streamoff>(mark.size))) {
            added.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    if (!added.empty()) {
        Say(std::string(method) + (text_result ? " returned the empty text" : " answered " + result) + "; " +
            mark.path.string() + " gained:");
        std::size_t start = 0;
        while (start < added.size()) {
            std::size_t end = added.find('\n', start);
            if (end == std::string::npos) end = added.size();
            std::string line = added.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const std::string text = platform::ToUtf8(platform::FromAnsi(line));
            std::fprintf(stderr, "  %s\n", text.c_str());
            start = end + 1;
        }
        return;
    }
    if (text_result) {
        ExplainMailLookup(args);
        return;
    }
    if (method != "SendMail") {
        Say(std::string(method) + " answered " + result + " and wrote no line to " +
            (mark.path.empty() ? std::string("DllErr.log") : mark.path.string()) +
            " (a log that cannot be opened loses its lines).");
    }
    try {
        SayMeaning(method, std::stol(result));
    } catch (const std::exception&) {
    }
}

}  // namespace quorvel::cli
