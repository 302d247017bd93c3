// The mail server's mailboxes, kept in App\USERLIST.DAT.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace quorvel::mail {

// The stored form of a password (HttpAddress, MailDir, MailPass): the
// object's own GetMailPass, reached through its interface.
using PasswordLookup = std::function<std::u16string(const std::u16string&, const std::u16string&,
                                                    const std::u16string&)>;

// Adds, edits or deletes one mailbox and returns the result code (0 done,
// 1 no user list or a value that does not fit its field, 2 exists, 3 missing,
// 4 a step failed, 6 the webmail server gave no password).
std::int32_t PostEmail(std::u16string Action, std::u16string MailDir, std::u16string Domain, std::u16string MailBox,
                       std::u16string IPAddress, std::u16string RealName, std::u16string PassWord,
                       std::int32_t MessageMax, std::int32_t MessageDisk, const PasswordLookup& get_mail_pass);

}  // namespace quorvel::mail
