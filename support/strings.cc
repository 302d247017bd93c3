#include "support/strings.h"

#include "platform/text.h"

namespace quorvel {

std::u16string Decimal(std::int64_t number) {
    const std::string digits = std::to_string(number);
    return std::u16string(digits.begin(), digits.end());
}

std::vector<std::u16string> Split(std::u16string_view text, char16_t separator) {
    std::vector<std::u16string> items;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        items.emplace_back(text.substr(start, end == std::u16string_view::npos ? end : end - start));
        if (end == std::u16string_view::npos) return items;
        start = end + 1;
    }
}

bool IsBlank(std::u16string_view text) { return text.find_first_not_of(u' ') == std::u16string_view::npos; }

bool FitsCodePage(std::u16string_view text) { return platform::TryToAnsi(text).has_value(); }

std::u16string_view TrimSpaces(std::u16string_view text) {
    const size_t first = text.find_first_not_of(u' ');
    if (first == std::u16string_view::npos) return {};
    const size_t last = text.find_last_not_of(u' ');
    return text.substr(first, last - first + 1);
}

namespace {

template <typename Char>
std::optional<std::int64_t> DigitsOf(std::basic_string_view<Char> text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::int64_t value = 0;
    for (const Char c : text) {
        if (c < Char('0') || c > Char('9')) return std::nullopt;
        value = value * 10 + (c - Char('0'));
    }
    return value;
}

}  // namespace

std::optional<std::int64_t> DecimalDigits(std::string_view text) { return DigitsOf(text); }
std::optional<std::int64_t> DecimalDigits(std::u16string_view text) { return DigitsOf(text); }

int ParsePort(std::string_view text) {
    if (text.size() > 5) return -1;
    const std::optional<std::int64_t> port = DecimalDigits(text);
    return port && *port <= 65535 ? static_cast<int>(*port) : -1;
}

}  // namespace quorvel
