// The stored form of a mailbox password, obtained from the webmail server.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "mail/files/webmail_account.h"

namespace quorvel {
class CallFrame;
namespace platform {
class FileLock;
}
}  // namespace quorvel

namespace quorvel::mail {

// Returns the 20-character stored password, or the empty text on failure.
// Writes its failure lines into the caller's open log.
std::u16string GetMailPass(std::u16string HttpAddress, std::u16string MailDir, std::u16string MailPass);

// Puts right what an interrupted GetMailPass may have left, as the first
// thing a mailbox call does once it has taken the webmail settings' lock
// (`settings_lock`, which it holds to its end): account creation switched
// back off, and the temporary account's records taken out of the user list
// (with one log line). Failures are the frame's pending error. Returns the
// number of records the list holds then, or nullopt when the settings or
// the list are missing or could not be read or put right.
std::optional<size_t> SettleInterruptedLookup(CallFrame& frame, std::u16string_view mail_dir,
                                              const platform::FileLock& settings_lock);

// The form the webmail server receives: the password percent-encoded in the
// system code page, so that "&", "=", "+" and "%" reach it intact.
std::string NewAccountForm(std::u16string_view password);

}  // namespace quorvel::mail
