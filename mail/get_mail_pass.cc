// GetMailPass: the webmail server creates a temporary account with the
// password; its record's password field is the stored form.
//
// Where the behaviour is ours to make:
// - The whole call holds the lock of the webmail settings file, so that two
//   calls never switch account creation off under each other or take each
//   other's temporary record; the user-list steps hold the user list's lock,
//   which the webmail server's append takes too.
// - A call may be killed at any moment. So a call first switches creation
//   off if an earlier one left it on, and removes the temporary account's
//   records an earlier one left in the list (logged, code 5); once creation
//   is switched on, every way out of the call switches it off again.
// - A record is taken only when this request appended it: the list held no
//   temporary record before the request and holds exactly one more record
//   after it, the temporary account's, at its end. Otherwise nothing is
//   removed and the result is empty (code 3).
// - The temporary account's records are those whose mailbox and full-name
//   fields both hold its name, wherever they stand.
// - "Port" must be a whole number from 1 to 65535, else the request counts as
//   not sent.
// - The list is rewritten atomically (written beside, flushed, renamed).
// - A password holding a character the code page cannot hold would reach the
//   form as '?' (so that "a😀" and "a??" would be stored alike): it is
//   refused with a code-1 line before anything is written or sent.
#include "mail/get_mail_pass.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/ascii.h"
#include "component/frame/frame.h"
#include "component/frame/intent.h"
#include "mail/files/paths.h"
#include "mail/files/user_list.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/text.h"
#include "support/find_file.h"
#include "support/profile.h"
#include "support/strings.h"

namespace quorvel::mail {
namespace {

constexpr std::int32_t kValueSize = 255;
constexpr char16_t kObject[] = u"/WorldClient.dll";
constexpr char kFormHeader[] = "Content-Type: application/x-www-form-urlencoded";

// The codes of the log lines; the caller sees only the empty text.
constexpr std::int32_t kNotSentCode = 2;
constexpr std::int32_t kNoTemporaryRecordCode = 3;
constexpr std::int32_t kLeftRecordsCode = 5;

constexpr char16_t kNoMailSoftware[] = u"，错误源：Mail软件 ，错误描述：Mail软件未安装或版本错误";
constexpr char16_t kNotSent[] = u"，错误源：Mail软件 ，错误描述：Mail软件IP不存在或设置出错";
constexpr char16_t kUnsafePassword[] = u"，错误源：Mail软件 ，错误描述：密码含有不允许的字符";
constexpr char16_t kNoTemporaryRecord[] = u"，错误源：Mail软件 ，错误描述：用户列表末行不是本次添加的临时帐号";
constexpr char16_t kLeftRecordsRemoved[] = u"，错误源：Mail软件 ，错误描述：已删除中断调用遗留的临时帐号";

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

void SwitchOff(CallFrame& frame, const std::u16string& settings) {
    frame.Step([&] {
        if (!WriteCreation(false, settings)) Raise(kPathFileAccess);
    });
}

// Account creation, on while this lives: switched off by Off(), or on the
// way out whatever happened in between.
class CreationSwitch {
public:
    CreationSwitch(CallFrame& frame, const std::u16string& settings) : frame_(frame), settings_(settings) {
        frame_.Step([&] { WriteCreation(true, settings_); });
    }
    ~CreationSwitch() {
        try {
            if (on_) WriteCreation(false, settings_);
        } catch (...) {
        }
    }
    CreationSwitch(const CreationSwitch&) = delete;
    CreationSwitch& operator=(const CreationSwitch&) = delete;
    void Off() {
        on_ = false;
        SwitchOff(frame_, settings_);
    }

private:
    CallFrame& frame_;
    const std::u16string& settings_;
    bool on_ = true;
};

// The log is the caller's; called directly there is none, and the line is lost.
void Note(CallFrame& frame, std::int32_t code, std::u16string_view text) {
    try {
        frame.Log(u"错误号：" + Decimal(code) + std::u16string(text));
    } catch (const StepError&) {
    }
}

bool PostForm(const std::u16string& server, std::uint16_t port, const std::string& body) {
    if (port == 0) return false;
    return platform::HttpPost(platform::ToAnsi(server), platform::ToAnsi(kObject), port, kFormHeader, body).sent;
}

}  // namespace

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

std::optional<size_t> SettleInterruptedLookup(CallFrame& frame, std::u16string_view mail_dir,
                                              const platform::FileLock& settings_lock) {
    const std::u16string settings = WebmailSettingsPath(mail_dir);
    if (base::ToUpperAscii(FindFile(settings)) != u"DOMAINS.INI") return std::nullopt;
    if (!settings_lock.held()) {
        frame.Step([] { Raise(kPathFileAccess); });
        return std::nullopt;
    }
    if (base::ToUpperAscii(CreationSetting(settings)) != u"NO") SwitchOff(frame, settings);

    const std::u16string list_path = UserListPath(mail_dir);
    if (base::ToUpperAscii(FindFile(list_path)) != u"USERLIST.DAT") {
        AuditRepair(frame, mail_dir);
        return std::nullopt;
    }
    std::optional<size_t> records;
    frame.Step([&] {
        const HeldUserList held(platform::ToAnsi(list_path));
        const UserList& list = held.list();
        const std::vector<size_t> left = TemporaryRecords(list);
        if (!left.empty()) {
            held.Replace(list.Without(left));
            for (const size_t n : left) frame.Audit().Change(list_path, u"record", HidePassword(list.Text(n)), {});
            Note(frame, kLeftRecordsCode, kLeftRecordsRemoved);
            if (!platform::CreateEmptyFile(platform::ToAnsi(SemaphorePath(mail_dir)))) Raise(kPathFileAccess);
        }
        records = list.size() - left.size();
    });
    AuditRepair(frame, mail_dir);
    return records;
}

std::u16string GetMailPass(std::u16string HttpAddress, std::u16string MailDir, std::u16string MailPass) {
    std::u16string password;
    CallFrame frame(u"GetMailPass", ErrorMode::ContinueOnError, LogUse::kCallers);
    frame.Run([&]() -> std::int32_t {
        const std::u16string settings = WebmailSettingsPath(MailDir);
        const std::u16string list_path = UserListPath(MailDir);
        const platform::FileLock server_lock(platform::ToAnsi(settings));
        const std::optional<size_t> records_before = SettleInterruptedLookup(frame, MailDir, server_lock);
        if (base::ToUpperAscii(FindFile(list_path)) != u"USERLIST.DAT") return frame.Detected(kPreconditionFailed, kNoMailSoftware);
        if (base::ToUpperAscii(FindFile(settings)) != u"DOMAINS.INI") return frame.Detected(kPreconditionFailed, kNoMailSoftware);
        if (!FitsCodePage(MailPass)) return frame.Detected(kPreconditionFailed, kUnsafePassword);
        if (!records_before || frame.has_pending_error()) return frame.Finish();

        bool sent = false;
        {
            CreationSwitch creation(frame, settings);
            std::uint16_t port = 0;
            frame.Step([&] { port = PortNumber(ReadIniValue(kSettingsSection, u"Port", kValueSize, settings)); });
            frame.Step([&] { sent = PostForm(HttpAddress, port, NewAccountForm(MailPass)); });
            creation.Off();
        }
        if (!sent) return frame.Detected(kNotSentCode, kNotSent);

        const HeldUserList held(platform::ToAnsi(list_path));
        const UserList& list = held.list();
        // Only a record this request added: one more than before, the temporary
        // account's, and the only one of it.
        const size_t last = list.size() - 1;
        if (list.size() != *records_before + 1 || TemporaryRecords(list) != std::vector<size_t>{last})
            return frame.Detected(kNoTemporaryRecordCode, kNoTemporaryRecord);
        const std::u16string record = list.Text(last);
        const std::u16string stored = record.substr(std::min(record.size(), kPasswordPosition), kPasswordWidth);

        const auto pieces = list.Rewrite(UserList::Change::kRemove, last, {});
        bool rewritten = false;
        frame.Step([&] {
            held.Replace(pieces);
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
