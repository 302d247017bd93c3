// The NetBIOS name of the local computer.
#pragma once

#include <string>

namespace quorvel {

// The text callers compare with to learn that the name is not available.
inline constexpr char16_t kUnknownComputerName[] = u"(未知)";

// Never fails: an unavailable name is "(未知)".
std::u16string GetLocalComputerName();

}  // namespace quorvel
