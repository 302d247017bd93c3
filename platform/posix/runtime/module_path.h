// Where the module that runs this code lies: the shared library it is part
// of, or the program. Each module links its own copy of the runtime (and
// keeps its symbols to itself), so the answer names the caller's module.
#pragma once

#include <filesystem>

namespace quorvel::posix {

// Absolute and normalized; empty when the loader cannot say.
std::filesystem::path ThisModulePath();

}  // namespace quorvel::posix
