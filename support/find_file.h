// FindFile: the name of one file as stored, which the methods compare to
// tell whether a server's files are where the caller says.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// The name of the ordinary file at `path` as stored, or empty when there is none.
std::u16string FindFile(std::u16string_view path);

// Whether FindFile finds the ordinary file at `path` under the name the path
// ends with, compared without regard to ASCII case: the test the methods make
// that a server's file is there. Asked of the file itself, not by searching
// its folder, unless the name has the shape of a short (8.3) name, which
// could be another file's, or letters beyond ASCII, whose case the
// comparison keeps.
bool FindsFile(std::u16string_view path);

}  // namespace quorvel
