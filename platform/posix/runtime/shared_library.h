// A loaded shared library (dlopen), unloaded when the object goes.
#pragma once

#include <string>

namespace quorvel::posix {

class SharedLibrary {
public:
    SharedLibrary() = default;
    ~SharedLibrary();
    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // False with the loader's message in `error` when it cannot be loaded.
    bool Open(const std::string& path, std::string& error);
    // nullptr when the library does not export `name`.
    void* Symbol(const char* name) const;
    bool is_open() const { return handle_ != nullptr; }

private:
    void* handle_ = nullptr;
};

}  // namespace quorvel::posix
