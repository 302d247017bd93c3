// ASCII characters by what they are, whatever the process's locale: the case
// of letters, the only case the names this system compares have (action
// words, member and key names, file and program names), every other
// character (a byte of a double-byte character included) staying as it is;
// and the value of hexadecimal digits.
#pragma once

#include <string>
#include <string_view>

namespace quorvel::base {

constexpr char ToLowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }
constexpr char16_t ToLowerAscii(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}
constexpr char ToUpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }
constexpr char16_t ToUpperAscii(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - (u'a' - u'A')) : c;
}

// 0 to 15 for a hexadecimal digit of either case; -1 for any other character.
constexpr int HexDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}
constexpr int HexDigitValue(char c) { return HexDigitValue(static_cast<char16_t>(static_cast<unsigned char>(c))); }

namespace detail {

template <typename Char, typename Fold>
std::basic_string<Char> Folded(std::basic_string_view<Char> text, Fold fold) {
    std::basic_string<Char> out(text);
    for (Char& c : out) c = fold(c);
    return out;
}

template <typename Char>
bool SameFolded(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
    return true;
}

}  // namespace detail

inline std::string ToLowerAscii(std::string_view text) {
    return detail::Folded(text, [](char c) { return ToLowerAscii(c); });
}
inline std::u16string ToLowerAscii(std::u16string_view text) {
    return detail::Folded(text, [](char16_t c) { return ToLowerAscii(c); });
}
inline std::string ToUpperAscii(std::string_view text) {
    return detail::Folded(text, [](char c) { return ToUpperAscii(c); });
}
inline std::u16string ToUpperAscii(std::u16string_view text) {
    return detail::Folded(text, [](char16_t c) { return ToUpperAscii(c); });
}

inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) { return detail::SameFolded(a, b); }
inline bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) { return detail::SameFolded(a, b); }

}  // namespace quorvel::base
