// Conversion between the component's Unicode strings and the system ANSI code
// page, the encoding of every string that crosses the platform seam.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::platform {

// Characters the code page cannot hold become '?', as WideCharToMultiByte does.
std::string ToAnsi(std::u16string_view text);
// The text in the code page, or nothing when a character of it has no form
// there (a lone surrogate included): never a '?' nor a look-alike in its place.
// What goes into a file, a record, a form or a command line is asked this first.
std::optional<std::string> TryToAnsi(std::u16string_view text);
// Bytes that are not valid in the code page become U+FFFD.
std::u16string FromAnsi(std::string_view bytes);

// Text that arrives in pieces: the length of the longest start of `bytes`
// that ends between two characters of the code page. What follows it begins
// a character that the next piece completes; converting the pieces joined at
// such points gives the text of the whole.
std::size_t CompleteAnsiLength(std::string_view bytes);

}  // namespace quorvel::platform
