#include "mail/files/paths.h"

#include "support/find_file.h"

namespace quorvel::mail {

std::u16string WebmailSettingsPath(std::u16string_view mail_dir) {
    return std::u16string(mail_dir) + u"\\WorldClient\\Domains.ini";
}
std::u16string UserListPath(std::u16string_view mail_dir) { return std::u16string(mail_dir) + u"\\App\\USERLIST.DAT"; }
std::u16string SemaphorePath(std::u16string_view mail_dir) { return std::u16string(mail_dir) + u"\\App\\UserList.sem"; }

bool HasUserList(std::u16string_view mail_dir) {
    return FindsFile(UserListPath(mail_dir));
}
bool HasWebmailSettings(std::u16string_view mail_dir) {
    return FindsFile(WebmailSettingsPath(mail_dir));
}

}  // namespace quorvel::mail
