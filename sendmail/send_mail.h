// Outgoing mail through one of the mail components a server may have.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel::sendmail {

// Sign 0: "JMAIL.SmtpMail" to MailServerIp; 1: "JMAIL.Message" to
// MailServerIp with the user name and password; 2: "CDONTS.NewMail" to the
// machine's relay; any other: nothing. Returns the number of the last failed
// step, 0 when none failed. Writes no log.
std::int32_t SendMail(std::int32_t Sign, std::u16string MailFrom, std::u16string MailTo, std::u16string MailSubject,
                      std::u16string MailBody, std::u16string MailServerUserName,
                      std::u16string MailServerPassword, std::u16string MailServerIp);

}  // namespace quorvel::sendmail
