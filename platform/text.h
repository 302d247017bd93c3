// Conversion between the component's Unicode strings and the system ANSI code
// page, the encoding of every string that crosses the platform seam.
#pragma once

#include <string>
#include <string_view>

namespace quorvel::platform {

// Characters the code page cannot hold become '?', as WideCharToMultiByte does.
std::string ToAnsi(std::u16string_view text);
// Bytes that are not valid in the code page become U+FFFD.
std::u16string FromAnsi(std::string_view bytes);

}  // namespace quorvel::platform
