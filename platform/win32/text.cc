#include "platform/text.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace quorvel::platform {

std::string ToAnsi(std::u16string_view text) {
    return win32::ToCodePage(CP_ACP, text);
}

// What a byte that is invalid in the code page becomes is Windows' choice
// (its default character), not U+FFFD in every case as on POSIX.
std::u16string FromAnsi(std::string_view bytes) {
    return win32::FromCodePage(CP_ACP, bytes);
}

}  // namespace quorvel::platform
