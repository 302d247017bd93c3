#include "support/find_file.h"

#include "platform/files.h"
#include "platform/text.h"

namespace quorvel {

std::u16string FindFile(std::u16string_view path) {
    const auto name = platform::FindFileName(platform::ToAnsi(path));
    return name ? platform::FromAnsi(*name) : std::u16string();
}

}  // namespace quorvel
