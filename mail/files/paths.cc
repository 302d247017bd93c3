#include "mail/files/paths.h"

#include "base/ascii.h"
#include "support/find_file.h"

namespace quorvel::mail {

std::u16string WebmailSettingsPath(std::u16string_view mail_dir) {
    return std::u16string(mail_dir) + u"\\WorldClient\\Domains.ini";
}
std::u16string UserListPath(std::u16string_view mail_dir) { return std::u16string(mail_dir) + u"\\App\\USERLIST.DAT"; }
std::u16string SemaphorePath(std::u16string_view mail_dir) { return std::u16string(mail_dir) + u"\\App\\UserList.sem"; }

bool HasUserList(std::u16string_view mail_dir) {
    return base::ToUpperAscii(FindFile(UserListPath(mail_dir))) == u"USERLIST.DAT";
}
bool HasWebmailSettings(std::u16string_view mail_dir) {
    return base::ToUpperAscii(FindFile(WebmailSettingsPath(mail_dir))) == u"DOMAINS.INI";
}

}  // namespace quorvel::mail
