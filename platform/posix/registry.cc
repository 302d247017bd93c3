// The registry seam over the machine's registry store.
#include "platform/registry.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

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

std::string ModulePathForRegistry() {
    // Any function of this file lives in the component library when it is loaded as one.
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&ModulePathForRegistry), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(info.dli_fname, ec);
    if (ec) return info.dli_fname;
    return path.lexically_normal().string();
}

const char* TypeLibPlatformKey() { return sizeof(void*) == 8 ? "posix64" : "posix32"; }

}  // namespace quorvel::platform
