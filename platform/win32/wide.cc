#include "platform/win32/wide.h"

#include <climits>

namespace quorvel::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 code units");

std::string ToCodePage(UINT code_page, std::u16string_view text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(code_page, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return {};
    std::string out(static_cast<size_t>(needed), '\0');
    const int written = WideCharToMultiByte(code_page, 0, wide, length, out.data(), needed, nullptr, nullptr);
    out.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return out;
}

std::optional<std::string> ToCodePageExactly(UINT code_page, std::u16string_view text) {
    if (text.empty()) return std::string();
    if (text.size() > INT_MAX) return std::nullopt;
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    const UINT page = code_page == CP_ACP ? GetACP() : code_page;
    // UTF-8 takes neither flag nor default character; it refuses lone
    // surrogates on its own terms.
    const bool utf8 = page == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL used_default = FALSE;
    BOOL* const used = utf8 ? nullptr : &used_default;
    const int needed = WideCharToMultiByte(page, flags, wide, length, nullptr, 0, nullptr, used);
    if (needed <= 0 || used_default) return std::nullopt;
    std::string out(static_cast<size_t>(needed), '\0');
    const int written = WideCharToMultiByte(page, flags, wide, length, out.data(), needed, nullptr, used);
    if (written != needed || used_default) return std::nullopt;
    // What does not read back as the same text was not held exactly.
    if (FromCodePage(page, out) != text) return std::nullopt;
    return out;
}

std::u16string FromCodePage(UINT code_page, std::string_view bytes) {
    if (bytes.empty() || bytes.size() > INT_MAX) return {};
    const int length = static_cast<int>(bytes.size());
    const int needed = MultiByteToWideChar(code_page, 0, bytes.data(), length, nullptr, 0);
    if (needed <= 0) return {};
    std::u16string out(static_cast<size_t>(needed), u'\0');
    const int written = MultiByteToWideChar(code_page, 0, bytes.data(), length,
                                            reinterpret_cast<wchar_t*>(out.data()), needed);
    out.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return out;
}

}  // namespace quorvel::win32
