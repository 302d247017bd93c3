// The webmail stand-in's one page: the new-account form. It adds the new
// account's record at the end of the mail server's user list, as the real
// webmail server does when account self-creation is on, the way the mailbox
// methods change the list (mail/files/user_list.h).
#pragma once

#include <string>
#include <string_view>

namespace quorvel::webmail {

struct Answer {
    bool created = false;
    std::string page;  // HTML, UTF-8
};

// Handles one form body (application/x-www-form-urlencoded, in the system
// code page) for the mail server installed in `mail_dir` (a Windows-form
// path in the system code page).
Answer NewAccount(std::string_view mail_dir, std::string_view body);

// The stored form of a password: 20 characters, the same for the same
// password, never the password itself.
std::u16string StoredForm(std::u16string_view password);

// The domain new accounts get: "DefaultDomain" in the webmail settings'
// [Default:Settings], "localhost" when that is empty.
std::u16string DefaultDomain(std::u16string_view mail_dir);

}  // namespace quorvel::webmail
