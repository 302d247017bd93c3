// Where the module that runs this code lies: the DLL it is part of, or the
// program. Each module links its own copy of the platform layer, so the
// answer names the caller's module.
#pragma once

#include <string>

namespace quorvel::win32 {

// The full path, however long; empty when the system cannot say.
std::wstring ThisModulePath();

}  // namespace quorvel::win32
