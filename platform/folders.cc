#include "platform/folders.h"

#include <charconv>

namespace quorvel::platform {
namespace {

// Digits only, at least one.
bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

std::optional<std::uint32_t> CopyWriterOf(std::string_view pid_dash_n) {
    const size_t dash = pid_dash_n.find('-');
    if (dash == std::string_view::npos || !AllDigits(pid_dash_n.substr(0, dash)) || !AllDigits(pid_dash_n.substr(dash + 1)))
        return std::nullopt;
    std::uint32_t process = 0;
    const char* first = pid_dash_n.data();
    const auto [end, error] = std::from_chars(first, first + dash, process);
    if (error != std::errc() || end != first + dash || process == 0) return std::nullopt;
    return process;
}

}  // namespace quorvel::platform
