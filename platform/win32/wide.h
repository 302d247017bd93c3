// Conversions between byte strings of a code page and UTF-16, for the calls
// that must be made through the wide API.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace quorvel::win32 {

std::string ToCodePage(UINT code_page, std::u16string_view text);
// Nothing when a character has no form of its own in the code page (it would
// become the default character or a best-fit look-alike).
std::optional<std::string> ToCodePageExactly(UINT code_page, std::u16string_view text);
std::u16string FromCodePage(UINT code_page, std::string_view bytes);

inline std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

// ANSI (system code page) to and from wide, for paths.
inline std::wstring WideFromAnsi(std::string_view bytes) { return Wide(FromCodePage(CP_ACP, bytes)); }

}  // namespace quorvel::win32
