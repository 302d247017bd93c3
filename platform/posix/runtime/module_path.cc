#include "platform/posix/runtime/module_path.h"

#include <dlfcn.h>

#include <system_error>

namespace quorvel::posix {

std::filesystem::path ThisModulePath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&ThisModulePath), &info) == 0 || info.dli_fname == nullptr) return {};
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(info.dli_fname, ec);
    if (ec) return info.dli_fname;
    return path.lexically_normal();
}

}  // namespace quorvel::posix
