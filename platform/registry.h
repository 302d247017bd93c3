// The part of HKEY_CLASSES_ROOT that registration needs. Keys are paths below
// HKEY_CLASSES_ROOT separated by '\'; an empty value name is the default value.
// Strings here are UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel::platform {

bool SetClassesRootValue(std::string_view key, std::string_view name, std::string_view value);
std::optional<std::string> GetClassesRootValue(std::string_view key, std::string_view name);
// Removes the key with its values and subkeys; true also when it was missing.
bool DeleteClassesRootTree(std::string_view key);

// A call begins: what the process keeps of HKEY_CLASSES_ROOT is checked
// against the registry itself at its next use, so that a change made there
// by other means than these functions is seen by this call.
void CheckClassesRootAgain();

// Full path of the loaded component library, as registration records it.
std::string ModulePathForRegistry();

// Name of the platform subkey under TypeLib\{LIBID}\1.0\0 ("win64" on 64-bit Windows).
const char* TypeLibPlatformKey();

}  // namespace quorvel::platform
