#include "platform/posix/runtime/shared_library.h"

#include <dlfcn.h>

#include <utility>

namespace quorvel::posix {

SharedLibrary::~SharedLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr) dlclose(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

bool SharedLibrary::Open(const std::string& path, std::string& error) {
    if (handle_ != nullptr) {
        dlclose(handle_);
        handle_ = nullptr;
    }
    // Local binding: the component keeps its own copy of the runtime.
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* message = dlerror();
        error = message != nullptr ? message : "unknown loader error";
        return false;
    }
    return true;
}

void* SharedLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return dlsym(handle_, name);
}

ResidentLibrary::ResidentLibrary(const char* name)
    : name_(name), handle_(dlopen(name, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {
    if (handle_ == nullptr) {
        const char* message = dlerror();
        why_ = message != nullptr ? message : "cannot load " + name_;
    }
}

void* ResidentLibrary::Symbol(const char* symbol) const {
    return handle_ == nullptr ? nullptr : dlsym(handle_, symbol);
}

}  // namespace quorvel::posix
