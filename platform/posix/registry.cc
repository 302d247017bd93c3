// The registry seam over the machine's registry store.
#include "platform/registry.h"

#include "platform/posix/runtime/module_path.h"
#include "platform/posix/runtime/registry_store.h"

namespace quorvel::platform {

bool SetClassesRootValue(std::string_view key, std::string_view name, std::string_view value) {
    return posix::registry::SetValue(key, name, value);
}

std::optional<std::string> GetClassesRootValue(std::string_view key, std::string_view name) {
    return posix::registry::GetValue(key, name);
}

bool DeleteClassesRootTree(std::string_view key) { return posix::registry::DeleteTree(key); }

void CheckClassesRootAgain() { posix::registry::LookAtFileAgain(); }

std::string ModulePathForRegistry() { return posix::ThisModulePath().string(); }

const char* TypeLibPlatformKey() { return sizeof(void*) == 8 ? "posix64" : "posix32"; }

}  // namespace quorvel::platform
