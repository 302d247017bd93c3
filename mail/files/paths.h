// Where the mail server keeps its files under its folder, MailDir: what the
// mailbox methods, BackupSit and the webmail stand-in all open.
#pragma once

#include <string>
#include <string_view>

namespace quorvel::mail {

// MailDir\WorldClient\Domains.ini: the webmail settings. Its lock also keeps
// the calls that ask the webmail server for a password from overlapping.
std::u16string WebmailSettingsPath(std::u16string_view mail_dir);
// MailDir\App\USERLIST.DAT and the semaphore beside it.
std::u16string UserListPath(std::u16string_view mail_dir);
std::u16string SemaphorePath(std::u16string_view mail_dir);

// Whether the user list, the webmail settings are there: what tells that the
// mail server, its webmail server, is installed.
bool HasUserList(std::u16string_view mail_dir);
bool HasWebmailSettings(std::u16string_view mail_dir);

}  // namespace quorvel::mail
