// The mail server's domains, kept in App\Domains.dat.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel::mail {

// Adds, edits, deletes or looks up one domain and returns the result code
// (0 done, 1 no domain file or a value the file cannot hold, 2 exists,
// 3 missing, 4 a step failed).
std::int32_t PostEmailDomain(std::u16string Action, std::u16string MailDir, std::u16string Domain,
                             std::u16string IPAddress, bool Bind, std::int32_t MaxInactive,
                             std::int32_t MaxMessageAge, std::int32_t MaxDeletedIMAPMessageAge, bool RecurseIMAP);

}  // namespace quorvel::mail
