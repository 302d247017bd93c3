// quorvel webmail --mail-dir DIR [--port N] [--background]: the webmail
// stand-in, in the foreground until SIGINT or SIGTERM, or in the background.
// The host checks the arguments and finds the port; the server is a program
// of its own, run in the host's place (same process, same signals, same
// output), so that the host loads the HTTP server and its TLS libraries for
// this command only.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "mail/files/paths.h"
#include "platform/utf8.h"
#include "support/profile.h"
#include "support/strings.h"
#include "tools/quorvel/cli.h"

namespace quorvel::cli {
namespace {

int Usage(const std::string& message) { return CommandUsageError("webmail", message); }

}  // namespace

// Beside the host in the build tree; installed, where the prefix keeps
// helper programs, found from the host's own place.
std::string WebmailProgram() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return QUORVEL_DEFAULT_WEBMAIL;
    const std::filesystem::path beside = self.parent_path() / "quorvel-webmail";
    if (std::filesystem::exists(beside, ec)) return beside.string();
    return (self.parent_path() / QUORVEL_INSTALLED_WEBMAIL).lexically_normal().string();
}

int RunWebmail(const Args& args) {
    if (AsksForHelp(args)) return PrintCommandHelp("webmail");
    std::string mail_dir;
    std::string port_text;
    bool background = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* name, std::string& into) {
            const std::string prefix = std::string(name) + "=";
            if (a == name && i + 1 < args.size()) {
                into = args[++i];
                return true;
            }
            if (a.rfind(prefix, 0) == 0) {
                into = a.substr(prefix.size());
                return true;
            }
            return false;
        };
        if (a == "--background") {
            background = true;
        } else if (!value("--mail-dir", mail_dir) && !value("--port", port_text)) {
            return Usage("unknown argument " + a);
        }
    }
    if (mail_dir.empty()) return Usage("--mail-dir is required");
    if (port_text.empty()) {
        // The port the webmail settings name, where the component will connect.
        const std::u16string settings = mail::WebmailSettingsPath(platform::FromUtf8(mail_dir));
        port_text = platform::ToUtf8(TrimSpaces(ReadIniValue(u"Default:Settings", u"Port", 255, settings)));
        if (port_text.empty()) return Usage("no --port, and the webmail settings name no Port");
    }
    if (ParsePort(port_text) < 0) return Usage("not a port number: " + port_text);

    const std::string program = WebmailProgram();
    std::vector<std::string> words{program, "--mail-dir", mail_dir, "--port", port_text};
    if (background) words.emplace_back("--background");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    execv(program.c_str(), argv.data());
    std::fprintf(stderr, "quorvel webmail: cannot run %s: %s; rebuild or reinstall quorvel\n", program.c_str(),
                 std::strerror(errno));
    return kExitUnavailable;
}

}  // namespace quorvel::cli
