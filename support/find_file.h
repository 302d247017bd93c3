// FindFile: the name of one file as stored, which the methods compare to
// tell whether a server's files are where the caller says.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// The name of the ordinary file at `path` as stored, or empty when there is none.
std::u16string FindFile(std::u16string_view path);

}  // namespace quorvel
