// One-way password hashes for the account stand-ins: salted and deliberately
// slow, from the system's own implementation, never reversible.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel::platform {

// A new salted hash of `password` (its UTF-8 bytes), as one printable text
// that names its method; nullopt when the system cannot make one.
std::optional<std::string> HashPassword(std::u16string_view password);

// Whether `password` is the one `stored` was made from.
bool PasswordMatches(std::u16string_view password, const std::string& stored);

}  // namespace quorvel::platform
