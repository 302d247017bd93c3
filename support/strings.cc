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

int ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 5) return -1;
    int port = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return -1;
        port = port * 10 + (c - '0');
    }
    return port <= 65535 ? port : -1;
}

}  // namespace quorvel
