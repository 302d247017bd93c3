// The NetBIOS name of the local computer.
#pragma once

#include <string>

namespace quorvel {

// The text callers compare with to learn that the name is not available.
inline constexpr char16_t kUnknownComputerName[] = u"(未知)";

// What the methods that need the name log when it is not available.
inline constexpr char16_t kNoComputerNameText[] = u"，错误源：计算机 ，错误描述：不能取得计算机名";

// Never fails: an unavailable name is "(未知)".
std::u16string GetLocalComputerName();

}  // namespace quorvel
