// The directory search for one file.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// The name of the ordinary file at `path` as stored, or empty when there is none.
std::u16string FindFile(std::u16string_view path);

}  // namespace quorvel
