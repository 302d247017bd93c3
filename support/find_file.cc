#include "support/find_file.h"

#include <algorithm>

#include "base/ascii.h"
#include "platform/files.h"
#include "platform/text.h"

namespace quorvel {
namespace {

// A name a file can have as its short alias: up to eight characters, a dot
// and up to three more.
bool HasShortNameShape(std::u16string_view name) {
    const size_t dot = name.find(u'.');
    const std::u16string_view base = name.substr(0, dot);
    const std::u16string_view extension = dot == std::u16string_view::npos ? u"" : name.substr(dot + 1);
    return !base.empty() && base.size() <= 8 && extension.size() <= 3 && extension.find(u'.') == std::u16string_view::npos;
}

}  // namespace

std::u16string FindFile(std::u16string_view path) {
    const auto name = platform::FindFileName(platform::ToAnsi(path));
    return name ? platform::FromAnsi(*name) : std::u16string();
}

bool FindsFile(std::u16string_view path) {
    const size_t slash = path.find_last_of(u"\\/");
    const std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    const bool ascii = std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x80; });
    if (!ascii || HasShortNameShape(name))
        return base::ToUpperAscii(FindFile(path)) == base::ToUpperAscii(std::u16string(name));
    return platform::IsOrdinaryFile(platform::ToAnsi(path));
}

}  // namespace quorvel
