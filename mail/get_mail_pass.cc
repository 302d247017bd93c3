// GetMailPass: the webmail server creates a temporary account with the
// password; its record's password field is the stored form.
//
// Where the behaviour is ours to make:
// - The whole call holds the lock of the webmail settings file, so that two
//   calls never switch account creation off under each other or take each
//   other's temporary record; the user-list steps hold the user list's lock,
//   which the webmail server's append takes too.
// - The last line is removed only when its mailbox field names the temporary
//   account; otherwise nothing is removed and the result is empty.
// - "Port" must be a whole number from 1 to 65535, else the request counts as
//   not sent.
// - The list is rewritten atomically (written beside, flushed, renamed).
// - A password holding a character the code page cannot hold would reach the
//   form as '?' (so that "a😀" and "a??" would be stored alike): it is
//   refused with a code-1 line before anything is written or sent.
#include "mail/get_mail_pass.h"

#include <algorithm>
#include <optional>

#include "component/frame.h"
#include "mail/user_list.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/text.h"
#include "support/directory.h"
#include "support/profile.h"
#include "support/strings.h"

namespace quorvel::mail {
namespace {

constexpr std::int32_t kPortSize = 255;
constexpr char16_t kSettingsSection[] = u"Default:Settings";
constexpr char16_t kObject[] = u"/WorldClient.dll";
constexpr char kFormHeader[] = "Content-Type: application/x-www-form-urlencoded";

// The codes of the failure lines; the caller sees only the empty text.
constexpr std::int32_t kNotSentCode = 2;
constexpr std::int32_t kNoTemporaryRecordCode = 3;

constexpr char16_t kNoMailSoftware[] = u"，错误源：Mail软件 ，错误描述：Mail软件未安装或版本错误";
constexpr char16_t kNotSent[] = u"，错误源：Mail软件 ，错误描述：Mail软件IP不存在或设置出错";
constexpr char16_t kUnsafePassword[] = u"，错误源：Mail软件 ，错误描述：密码含有不允许的字符";
constexpr char16_t kNoTemporaryRecord[] = u"，错误源：Mail软件 ，错误描述：用户列表末行不是临时帐号";

// A whole number from 1 to 65535, blanks around it allowed; 0 for anything else.
std::uint16_t PortNumber(std::u16string_view text) {
    text = TrimSpaces(text);
    if (text.empty() || text.size() > 5) return 0;
    std::uint32_t port = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9') return 0;
        port = port * 10 + static_cast<std::uint32_t>(c - u'0');
    }
    return port <= 65535 ? static_cast<std::uint16_t>(port) : 0;
}

bool PostForm(const std::u16string& server, std::uint16_t port, const std::string& body) {
    if (port == 0) return false;
    return platform::HttpPost(platform::ToAnsi(server), platform::ToAnsi(kObject), port, kFormHeader, body).sent;
}

}  // namespace

std::u16string WebmailSettingsPath(std::u16string_view mail_dir) {
    return std::u16string(mail_dir) + u"\\WorldClient\\Domains.ini";
}
std::u16string UserListPath(std::u16string_view mail_dir) { return std::u16string(mail_dir) + u"\\App\\USERLIST.DAT"; }
std::u16string SemaphorePath(std::u16string_view mail_dir) { return std::u16string(mail_dir) + u"\\App\\UserList.sem"; }

std::string NewAccountForm(std::u16string_view password) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char byte : platform::ToAnsi(password)) {
        const auto c = static_cast<unsigned char>(byte);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
        }
    }
    const std::string account = platform::ToAnsi(kTemporaryAccount);
    return "View=NewUser&Finished=Yes&User=" + account + "&FullName=" + account + "&Pass=" + encoded +
           "&ConfirmPass=" + encoded;
}

std::u16string GetMailPass(std::u16string HttpAddress, std::u16string MailDir, std::u16string MailPass) {
    std::u16string password;
    CallFrame frame(u"GetMailPass", ErrorMode::ContinueOnError, LogUse::kCallers);
    frame.Run([&]() -> std::int32_t {
        const std::u16string settings = WebmailSettingsPath(MailDir);
        const std::u16string list_path = UserListPath(MailDir);
        if (UpperAscii(FindFile(list_path)) != u"USERLIST.DAT") return frame.Detected(kPreconditionFailed, kNoMailSoftware);
        if (UpperAscii(FindFile(settings)) != u"DOMAINS.INI") return frame.Detected(kPreconditionFailed, kNoMailSoftware);
        if (!FitsCodePage(MailPass)) return frame.Detected(kPreconditionFailed, kUnsafePassword);

        const platform::FileLock server_lock(platform::ToAnsi(settings));
        if (!server_lock.held()) Raise(kPathFileAccess);

        frame.Step([&] { WriteIniValue(kSettingsSection, u"NewAccountCreation", u"Yes", settings); });
        std::uint16_t port = 0;
        frame.Step([&] { port = PortNumber(ReadIniValue(kSettingsSection, u"Port", kPortSize, settings)); });
        bool sent = false;
        frame.Step([&] { sent = PostForm(HttpAddress, port, NewAccountForm(MailPass)); });
        frame.Step([&] { WriteIniValue(kSettingsSection, u"NewAccountCreation", u"No", settings); });
        if (!sent) return frame.Detected(kNotSentCode, kNotSent);

        const std::string list_file = platform::ToAnsi(list_path);
        const platform::FileLock list_lock(list_file);
        if (!list_lock.held()) Raise(kPathFileAccess);
        std::optional<std::string> bytes = platform::ReadFileBytes(list_file);
        if (!bytes) Raise(kPathFileAccess);
        const UserList list(std::move(*bytes));
        if (list.size() == 0) return frame.Detected(kNoTemporaryRecordCode, kNoTemporaryRecord);
        const size_t last = list.size() - 1;
        const std::u16string record = list.Text(last);
        const std::u16string_view mailbox =
            std::u16string_view(record).substr(std::min(record.size(), kMailBoxPosition), kMailBoxWidth);
        if (mailbox != LookupKey(u"", kTemporaryAccount).substr(kDomainWidth))
            return frame.Detected(kNoTemporaryRecordCode, kNoTemporaryRecord);
        const std::u16string stored = record.substr(std::min(record.size(), kPasswordPosition), kPasswordWidth);

        const auto pieces = list.Rewrite(UserList::Change::kRemove, last, {});
        bool rewritten = false;
        frame.Step([&] {
            if (!platform::ReplaceFileBytes(list_file, pieces)) Raise(kPathFileAccess);
            rewritten = true;
        });
        frame.Step([&] {
            if (!platform::CreateEmptyFile(platform::ToAnsi(SemaphorePath(MailDir)))) Raise(kPathFileAccess);
        });
        const std::int32_t code = frame.Finish();
        if (code == kDone && rewritten) password = stored;
        return code;
    });
    return password;
}

}  // namespace quorvel::mail
