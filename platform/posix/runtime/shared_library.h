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

// A system library loaded on first use for the rest of the process (it keeps
// global state, and what it made may outlive its user), with the functions
// taken from it.
class ResidentLibrary {
public:
    explicit ResidentLibrary(const char* name);
    bool ok() const { return handle_ != nullptr && why_.empty(); }
    // Why it cannot be used: not loaded, or a function missing.
    const std::string& why() const { return why_; }

    template <typename Fn>
    bool Take(const char* symbol, Fn& into) {
        into = reinterpret_cast<Fn>(Symbol(symbol));
        if (into == nullptr && why_.empty()) why_ = name_ + " has no " + symbol;
        return into != nullptr;
    }

private:
    void* Symbol(const char* symbol) const;

    std::string name_;
    void* handle_ = nullptr;
    std::string why_;
};

// The functions taken from a resident library, or why there are none.
template <typename Functions>
struct ResidentFunctions {
    Functions functions{};
    bool ok = false;
    std::string why;

    // The functions; nullptr with the reason in `reason` (when given) if there are none.
    const Functions* Get(std::string* reason) const {
        if (!ok && reason != nullptr) *reason = why;
        return ok ? &functions : nullptr;
    }
};

}  // namespace quorvel::posix
