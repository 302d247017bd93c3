#include "mail/files/paths.h"

namespace quorvel::mail {

std::u16string WebmailSettingsPath(std::u16string_view mail_dir) {
    return std::u16string(mail_dir) + u"\\WorldClient\\Domains.ini";
}
std::u16string UserListPath(std::u16string_view mail_dir) { return std::u16string(mail_dir) + u"\\App\\USERLIST.DAT"; }
std::u16string SemaphorePath(std::u16string_view mail_dir) { return std::u16string(mail_dir) + u"\\App\\UserList.sem"; }

}  // namespace quorvel::mail
