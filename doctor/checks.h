// The checks of quorvel doctor, one per kind of store the methods keep.
// Each adds its findings to the report and, with `repair`, puts right under
// the methods' own locks what has one sound fix: it takes the lock, looks
// again, and writes the whole change atomically, as a method would.
#pragma once

#include <string>
#include <vector>

#include "doctor/audit_trail.h"
#include "doctor/report.h"

namespace quorvel::doctor {

class IniFile;
}  // namespace quorvel::doctor
namespace quorvel::mail {
class UserList;
}  // namespace quorvel::mail
namespace quorvel::doctor {

struct Context {
    Report& report;
    bool repair = false;
    // The audit trail the files are held to; null when there is none.
    const Trail* trail = nullptr;
};

// Each item of `file` (read as `bytes`, parsed as `ini`) that differs from
// what the trail last recorded for it, and the file itself when the trail's
// last word on it is the whole file: changed outside the component since
// (audit.outside-edit, reported only).
void CrossCheckProfile(const std::u16string& file, std::string_view bytes, const IniFile& ini, Context& context);
// The same for the records of a user list.
void CrossCheckUserList(const std::u16string& file, const mail::UserList& list, Context& context);

// Appends the line of a repair to the trail; when it cannot be written, the
// repair is said to be unrecorded.
void RecordRepair(Context& context, const std::u16string& target, const std::vector<RepairChange>& changes);

// The keys whose values differ between two states of a profile file, as
// changes of `file` (a key absent on one side is absent there).
std::vector<RepairChange> ProfileChanges(const std::u16string& file, const IniFile& before, const IniFile& after);

// CFile\ServUDaemon.ini: every domain's user list and account sections.
void CheckFtp(const std::u16string& cfile, Context& context);

// MailDir\App\USERLIST.DAT, MailDir\app\Domains.dat and the webmail
// settings' account-creation switch.
void CheckMail(const std::u16string& mail_dir, Context& context);

// The web sites of the IIS directory.
void CheckSites(Context& context);

// The group memberships of the WinNT directory.
void CheckAccounts(Context& context);

// What the component itself leaves when a call dies: copies of interrupted
// replacements and stale lock files in the folders of the files checked and
// in the component's state folder, and there the intent records of
// interrupted calls. `guards` are files whose lock the methods take whether
// or not the file is there (the webmail settings): their lock files are in use.
struct Places {
    std::vector<std::u16string> folders;
    std::vector<std::u16string> guards;
    std::u16string state;
};
void CheckLeftovers(const Places& places, Context& context);

// The folders holding ServUDaemon.ini, and those holding App\USERLIST.DAT,
// on the machine's fixed drives (a few levels down).
struct ServerFolders {
    std::vector<std::u16string> ftp;
    std::vector<std::u16string> mail;
};
ServerFolders FindServerFolders();

// The folder of the component's intent records and locks on this machine.
std::u16string ComponentStateFolder();
// The folder of the library registered for the component's class; empty
// when it is not registered.
std::u16string RegisteredComponentFolder();

}  // namespace quorvel::doctor
