#include "platform/text.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace quorvel::platform {

namespace {

// Every ANSI code page holds ASCII as itself; most text that crosses is ASCII.
template <typename Char>
bool IsAscii(std::basic_string_view<Char> text) {
    for (Char c : text)
        if (static_cast<unsigned>(c) >= 0x80) return false;
    return true;
}

}  // namespace

std::string ToAnsi(std::u16string_view text) {
    if (IsAscii(text)) return std::string(text.begin(), text.end());
    return win32::ToCodePage(CP_ACP, text);
}

std::optional<std::string> TryToAnsi(std::u16string_view text) {
    if (IsAscii(text)) return std::string(text.begin(), text.end());
    return win32::ToCodePageExactly(CP_ACP, text);
}

// What a byte that is invalid in the code page becomes is Windows' choice
// (its default character), not U+FFFD in every case as on POSIX.
std::u16string FromAnsi(std::string_view bytes) {
    if (IsAscii(bytes)) return std::u16string(bytes.begin(), bytes.end());
    return win32::FromCodePage(CP_ACP, bytes);
}

// Windows converts the double-byte code pages by lead bytes.
std::size_t CompleteAnsiLength(std::string_view bytes) {
    std::size_t complete = 0;
    while (complete < bytes.size()) {
        if (!IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(bytes[complete]))) {
            ++complete;
        } else if (complete + 1 < bytes.size()) {
            complete += 2;
        } else {
            break;
        }
    }
    return complete;
}

}  // namespace quorvel::platform
