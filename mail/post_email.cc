// PostEmail: one record of the user list added, replaced or removed.
//
// Where the behaviour is ours to make:
// - Values that do not fit their fields (domain over 45 characters, mailbox
//   or full name over 30, mailbox folder over 90, a limit negative or longer
//   than 4 or 6 digits) or that hold CR, LF or NUL are refused with result 1
//   before anything is written, the webmail server not asked. DEL needs only
//   the domain and the mailbox. A value holding a character the code page
//   cannot hold does not fit either ("a😀" would be stored, and then looked
//   for, as "a??"); nor, for every action, a password that would go into the
//   webmail form so.
// - The call holds the webmail settings' lock from start to end (the lock
//   GetMailPass takes), and the user list's lock over its read and rewrite,
//   so no overlapping call or webmail append is lost. Before anything else
//   it puts right what an interrupted password lookup left (creation left
//   on, a temporary record left in the list), as GetMailPass does.
// - The list is rewritten atomically; a list that cannot be read is not
//   rewritten (result 4).
// - An unknown action word returns 0 and leaves the list as it was.
#include "mail/post_email.h"

#include <optional>

#include "base/ascii.h"
#include "component/frame/frame.h"
#include "mail/files/paths.h"
#include "mail/files/user_list.h"
#include "mail/get_mail_pass.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/strings.h"

namespace quorvel::mail {
namespace {

constexpr std::int32_t kMailServerDown = 6;

constexpr char16_t kNoMailSoftware[] = u"，错误源：Mail软件 ，错误描述：Mail软件未安装或版本错误";
constexpr char16_t kMailSoftwareOff[] = u"，错误源：Mail软件 ，错误描述：Mail软件未开启或版本错误";
constexpr char16_t kMailboxExists[] = u"，错误源：邮箱，错误描述：邮箱已经存在";
constexpr char16_t kNoSuchMailbox[] = u"，错误源：邮箱，错误描述：邮箱不存在";
constexpr char16_t kDoesNotFit[] = u"，错误源：邮箱，错误描述：域名、邮箱、姓名、限额超出字段宽度或含有不允许的字符";
constexpr char16_t kUnsafePassword[] = u"，错误源：邮箱，错误描述：密码含有不允许的字符";

bool ChangesMailboxes(const std::u16string& action) {
    return action == u"ADD" || action == u"EDIT" || action == u"DEL";
}

}  // namespace

std::int32_t PostEmail(std::u16string Action, std::u16string MailDir, std::u16string Domain, std::u16string MailBox,
                       std::u16string IPAddress, std::u16string RealName, std::u16string PassWord,
                       std::int32_t MessageMax, std::int32_t MessageDisk, const PasswordLookup& get_mail_pass) {
    CallFrame frame(u"PostEmail", ErrorMode::ContinueOnError);
    return frame.Run([&]() -> std::int32_t {
        const platform::FileLock server_lock(platform::ToAnsi(WebmailSettingsPath(MailDir)));
        SettleInterruptedLookup(frame, MailDir, server_lock);
        if (frame.has_pending_error()) return frame.Finish();

        const std::u16string list_path = UserListPath(MailDir);
        if (!HasUserList(MailDir)) return frame.Detected(kPreconditionFailed, kNoMailSoftware);

        const std::u16string action = base::ToUpperAscii(Action);
        frame.Audit().About(action, MailBox + u"@" + Domain);
        Mailbox box{Domain, MailBox, RealName, MailboxFolder(MailDir, Domain, MailBox), {}, MessageMax, MessageDisk};
        const bool fits = action == u"DEL" ? FitsField(Domain, kDomainWidth) && FitsField(MailBox, kMailBoxWidth)
                                           : BuildRecord(box).has_value();
        if (ChangesMailboxes(action) && !fits) return frame.Detected(kPreconditionFailed, kDoesNotFit);
        if (!FitsCodePage(PassWord)) return frame.Detected(kPreconditionFailed, kUnsafePassword);

        PassWord = get_mail_pass(IPAddress, MailDir, PassWord);
        if (PassWord.empty()) return frame.Detected(kMailServerDown, kMailSoftwareOff);
        if (!ChangesMailboxes(action)) return frame.Finish();

        box.password = PassWord;
        std::string record;
        if (action != u"DEL") {
            const auto text = BuildRecord(box);
            if (!text) return frame.Detected(kPreconditionFailed, kDoesNotFit);
            record = platform::ToAnsi(*text);
        }

        const HeldUserList held(platform::ToAnsi(list_path));
        const UserList& list = held.list();
        const std::optional<size_t> found = list.FindLast(LookupKey(Domain, MailBox));

        std::vector<std::string_view> pieces;
        if (action == u"ADD") {
            if (found) return frame.Detected(kAlreadyExists, kMailboxExists);
            pieces = list.Rewrite(UserList::Change::kAppend, 0, record);
        } else if (action == u"EDIT") {
            if (!found) return frame.Detected(kDoesNotExist, kNoSuchMailbox);
            pieces = list.Rewrite(UserList::Change::kReplace, *found, record);
        } else {
            if (!found) return frame.Detected(kDoesNotExist, kNoSuchMailbox);
            pieces = list.Rewrite(UserList::Change::kRemove, *found, {});
        }
        frame.Step([&] {
            held.Replace(pieces);
            const auto shown = [](std::string_view line) { return AuditValue(HidePassword(platform::FromAnsi(line))); };
            if (!found || list.line(*found) != record)
                frame.Audit().Change(list_path, u"record", found ? shown(list.line(*found)) : AuditValue(),
                                     action == u"DEL" ? AuditValue() : shown(record));
        });
        frame.Step([&] {
            if (!platform::CreateEmptyFile(platform::ToAnsi(SemaphorePath(MailDir))))
                Raise(kPathFileAccess);
        });
        return frame.Finish();
    });
}

}  // namespace quorvel::mail
