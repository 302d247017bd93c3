// BackupSit: backups of the three servers' configurations.
//
// The FTP and mail files are copied whole into BakPath as "1_NAME.bak",
// "2_U_NAME.bak" and "2_D_NAME.bak"; the IIS metabase is kept by IIS itself.
//
// Choices where the behaviour is ours to make:
// - A backup name that could reach outside BakPath (or outside the IIS
//   store) is refused with result 1 before anything is touched: one holding
//   "\", "/", ":", a wildcard, a character a file name cannot hold, a
//   character the code page cannot hold, or one that is "." or "..".
// - A copy replaces its target atomically (written beside it, flushed,
//   renamed), so a restore never leaves a half-written live file, and it is
//   made under the live file's lock, the one the account methods hold while
//   they change that file: a restore never interleaves with an account
//   change, and a backup copies a state some call left, not half of one.
//   The two mail files are taken one after the other, never both at once.
// - A BACKUP or RESTORE of the mail files also holds, first and throughout,
//   the webmail settings' lock that a mailbox call holds from start to end
//   (when the webmail server is installed): a backup never catches the
//   temporary account a password lookup has the webmail server add, and a
//   restore never replaces the list in the middle of a lookup.
// - The mail branch handles its two files one after the other, so it keeps an
//   intent record (component/frame/intent.h) while it works, under the method's lock,
//   and every call first finishes what one that died left: a RESTORE that had
//   restored the user list gets the domains restored too (one that had not
//   restored anything is left undone), a BACKUP is made again from both live
//   files, so that the pair is of one moment, and a DEL deletes what is left.
#include "backup/backup_sit.h"

#include <optional>
#include <vector>

#include "automation/objects.h"
#include "base/ascii.h"
#include "component/frame/frame.h"
#include "component/frame/intent.h"
#include "mail/files/paths.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/computer_name.h"
#include "support/file_system.h"
#include "support/strings.h"

namespace quorvel::backup {
namespace {

using automation::GetObject;
using automation::Object;

constexpr char16_t kNoFtpSoftware[] = u"，错误源：Serv-u软件 ，错误描述：Serv-U软件未安装或版本错误";
constexpr char16_t kNoMailSoftware[] = u"，错误源：MDaemon软件 ，错误描述：MDaemon软件未安装或版本错误";
constexpr char16_t kNoBackupFolder[] = u"，错误源：备份 ，错误描述：备份路径不存在！";
constexpr char16_t kUnsafeName[] = u"，错误源：备份 ，错误描述：备份名含有不允许的字符";
constexpr char16_t kRepairCompleted[] = u"，错误源：备份 ，错误描述：已完成中断的备份操作";
constexpr char16_t kRepairNothing[] = u"，错误源：备份 ，错误描述：中断的备份操作未更改文件";

// The phases of the mail branch's record: before its first file, and after it.
constexpr char16_t kFirstFile[] = u"UserList";
constexpr char16_t kSecondFile[] = u"Domains";

// The version and flag values IIS publishes for its backups, in the types
// its methods are called with.
constexpr std::int32_t kNextVersion = -1;
constexpr std::int32_t kHighestVersion = -2;
constexpr std::int16_t kOverwrite = 1;

enum class Verb { kBackup, kRestore, kDelete, kNone };

Verb ActionOf(const std::u16string& word) {
    const std::u16string action = base::ToUpperAscii(word);
    if (action == u"BACKUP") return Verb::kBackup;
    if (action == u"RESTORE") return Verb::kRestore;
    if (action == u"DEL") return Verb::kDelete;
    return Verb::kNone;
}

// A live file and its backup file.
struct Copy {
    std::u16string live;
    std::u16string backup;
};

// The name stays one file name inside the backup folder.
bool IsSafeName(const std::u16string& name) {
    if (name == u"." || name == u"..") return false;
    for (const char16_t c : name) {
        if (c < 0x20) return false;
        if (std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos) return false;
    }
    // A character without a code-page form would reach the file system as "?".
    return FitsCodePage(name);
}

// One file's copy or deletion as one step; `after` belongs to the step.
template <typename After>
void Act(CallFrame& frame, Verb action, const Copy& copy, After&& after) {
    switch (action) {
        case Verb::kBackup:
            frame.Step(
                [&] {
                    FileHold hold(copy.live);
                    CopyFileOver(copy.live, copy.backup);
                },
                after);
            break;
        case Verb::kRestore:
            frame.Step(
                [&] {
                    FileHold hold(copy.live);
                    CopyFileOver(copy.backup, copy.live);
                },
                after);
            break;
        case Verb::kDelete:
            frame.Step([&] { DeleteFileForced(copy.backup); }, after);
            break;
        case Verb::kNone:
            break;
    }
}

void Act(CallFrame& frame, Verb action, const Copy& copy) {
    Act(frame, action, copy, [] {});
}

// The mail server's two files, the user list first.
std::vector<Copy> MailCopies(const std::u16string& set_path, const std::u16string& bak_path,
                             const std::u16string& name) {
    return {{set_path + u"\\app\\UserList.dat", bak_path + u"\\2_U_" + name + u".bak"},
            {set_path + u"\\app\\Domains.dat", bak_path + u"\\2_D_" + name + u".bak"}};
}

// Both files are there, with the same bytes.
bool SameBytes(const std::u16string& a, const std::u16string& b) {
    const auto first = platform::ReadFileBytes(platform::ToAnsi(a));
    const auto second = platform::ReadFileBytes(platform::ToAnsi(b));
    return first && second && *first == *second;
}

// Takes the lock of `guard` for a BACKUP or RESTORE when that file is there;
// false when it could not be taken.
bool Guard(CallFrame& frame, Verb action, const std::u16string& guard, std::optional<FileHold>& held) {
    if ((action != Verb::kBackup && action != Verb::kRestore) || guard.empty() || !FileExists(guard)) return true;
    frame.Step([&] { held.emplace(guard); });
    return held.has_value();
}

// What a mail branch that died left, finished with its own paths, under the
// locks the branch itself holds.
std::optional<std::u16string> RepairMailFiles(CallFrame& frame, const IntentRecord& record) {
    const Verb action = ActionOf(record.Text("Action"));
    std::optional<FileHold> guarded;
    if (!Guard(frame, action, mail::WebmailSettingsPath(record.Text("SetPath")), guarded)) return std::nullopt;
    const std::vector<Copy> copies = MailCopies(record.Text("SetPath"), record.Text("BakPath"), record.Text("Bakname"));
    switch (action) {
        case Verb::kBackup:
            DeadCallsSteps(frame, [&] {
                for (const Copy& copy : copies) Act(frame, action, copy);
            });
            return kRepairCompleted;
        case Verb::kRestore:
            // Past the user list when the record says so, or when the user
            // list already is the backup's (killed right after restoring it).
            if (record.Text("Phase") != kSecondFile && !SameBytes(copies[0].live, copies[0].backup))
                return kRepairNothing;
            DeadCallsSteps(frame, [&] { Act(frame, action, copies[1]); });
            return kRepairCompleted;
        case Verb::kDelete:
            DeadCallsSteps(frame, [&] {
                for (const Copy& copy : copies)
                    if (FileExists(copy.backup)) Act(frame, action, copy);
            });
            return kRepairCompleted;
        case Verb::kNone:
            break;
    }
    return kRepairNothing;
}

// The FTP and mail branches: every live file must exist, then the backup
// folder; then each copy in order, a failure of one not stopping the next.
// `guard`, when there, is a file whose lock the live files' writers hold
// around their changes of both: a BACKUP or RESTORE holds it first, and
// copies nothing without it. With `intent` (the mail branch), the copies are
// made under the intent record that it starts.
std::int32_t CopyFiles(CallFrame& frame, Verb action, const std::vector<Copy>& copies,
                       const char16_t* no_software, const std::u16string& folder, const std::u16string& name,
                       const std::u16string& guard = {}, MethodIntent* intent = nullptr, IntentRecord record = {}) {
    for (const Copy& copy : copies)
        if (!FileExists(copy.live)) return frame.Detected(kAlreadyExists, no_software);
    if (!FolderExists(folder)) return frame.Detected(kDoesNotExist, kNoBackupFolder);
    if (action == Verb::kNone) return frame.Finish();
    if (!IsSafeName(name)) return frame.Detected(kPreconditionFailed, kUnsafeName);
    std::optional<FileHold> guarded;
    if (!Guard(frame, action, guard, guarded)) return frame.Finish();
    if (intent == nullptr) {
        for (const Copy& copy : copies) Act(frame, action, copy);
        return frame.Finish();
    }
    if (!BeginIntent(frame, *intent, record.Set("Phase", kFirstFile))) return frame.Finish();
    for (size_t i = 0; i < copies.size(); ++i) {
        if (i + 1 < copies.size())
            Act(frame, action, copies[i], [&] { intent->Write(record.Set("Phase", kSecondFile)); });
        else
            Act(frame, action, copies[i]);
    }
    EndIntent(frame, *intent);
    return frame.Finish();
}

// IIS keeps the backups in its own store, each name in numbered versions:
// a BACKUP adds the next version, a RESTORE takes the newest, a DEL removes
// version 0 only.
std::int32_t IisBackup(CallFrame& frame, Verb action, const std::u16string& name) {
    const std::u16string computer = GetLocalComputerName();
    if (computer == kUnknownComputerName) return frame.Detected(kPreconditionFailed, kNoComputerNameText);
    if (action != Verb::kNone && !IsSafeName(name)) return frame.Detected(kPreconditionFailed, kUnsafeName);
    Object iis;
    frame.Step([&] { iis = GetObject(u"IIS://" + computer); });
    switch (action) {
        case Verb::kBackup:
            frame.Step([&] { iis.Call(u"Backup", {name, kNextVersion, kOverwrite}); });
            break;
        case Verb::kRestore:
            frame.Step([&] { iis.Call(u"Restore", {name, kHighestVersion, std::int16_t{0}}); });
            break;
        case Verb::kDelete:
            frame.Step([&] { iis.Call(u"DeleteBackup", {name, std::int16_t{0}}); });
            break;
        case Verb::kNone:
            break;
    }
    iis.Release();
    return frame.Finish();
}

}  // namespace

std::int32_t BackupSit(std::u16string Action, std::int32_t Edition, std::u16string Bakname, std::u16string SetPath,
                       std::u16string BakPath) {
    CallFrame frame(u"BackupSit", ErrorMode::ContinueOnError);
    return frame.Run([&]() -> std::int32_t {
        const auto action = ActionOf(Action);
        MethodIntent intent("BackupSit");
        const bool mail_files = Edition == 2 && action != Verb::kNone;
        if (mail_files && !TakeLock(frame, intent)) return frame.Finish();
        if (!RepairLeftover(frame, intent, [&](const IntentRecord& left) { return RepairMailFiles(frame, left); }))
            return frame.Finish();
        if (!mail_files) intent.Unlock();
        switch (Edition) {
            case 0:
                return IisBackup(frame, action, Bakname);
            case 1:
                return CopyFiles(frame, action, {{SetPath + u"\\ServUDaemon.ini", BakPath + u"\\1_" + Bakname + u".bak"}},
                                 kNoFtpSoftware, BakPath, Bakname);
            case 2: {
                IntentRecord record;
                record.Set("Action", Action).Set("SetPath", SetPath).Set("BakPath", BakPath).Set("Bakname", Bakname);
                return CopyFiles(frame, action, MailCopies(SetPath, BakPath, Bakname), kNoMailSoftware, BakPath,
                                 Bakname, mail::WebmailSettingsPath(SetPath), &intent, std::move(record));
            }
            default:
                return frame.Finish();
        }
    });
}

}  // namespace quorvel::backup
