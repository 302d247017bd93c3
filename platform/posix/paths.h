// Windows paths on POSIX: '\' and '/' both separate components, a drive letter
// maps to its folder, and each component that exists is matched without
// regard to case; what does not exist keeps its name as given.
#pragma once

#include <filesystem>
#include <string_view>

namespace quorvel::posix {

// `path` is UTF-8.
std::filesystem::path MapWindowsPath(std::string_view path);

// `path` is in the machine's ANSI code page, as it crosses the seam.
std::filesystem::path MapAnsiPath(std::string_view path);

}  // namespace quorvel::posix
