// Owners of Win32 handles, so that every path out of a function closes them.
#pragma once

#include <windows.h>

#include <utility>

namespace quorvel::win32 {

// A handle with its closing function.
template <typename T, BOOL(WINAPI* Close)(T)>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    // Both null and INVALID_HANDLE_VALUE mean "none": the API uses either.
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    T get() const { return handle_; }
    // The handle, no longer closed by this owner.
    T release() { return std::exchange(handle_, nullptr); }
    void reset(T handle = nullptr) {
        if (valid()) Close(handle_);
        handle_ = handle;
    }

private:
    T handle_ = nullptr;
};

using Handle = UniqueHandle<HANDLE, &CloseHandle>;
using FindHandle = UniqueHandle<HANDLE, &FindClose>;

// Registry keys close with a function of another signature.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() { reset(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    HKEY get() const { return key_; }
    HKEY* out() {
        reset();
        return &key_;
    }
    void reset() {
        if (key_ != nullptr) RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};

// Holds a mutex that this thread acquired; releases it on destruction.
class MutexOwnership {
public:
    MutexOwnership() = default;
    explicit MutexOwnership(HANDLE mutex) : mutex_(mutex) {}
    ~MutexOwnership() {
        if (mutex_ != nullptr) ReleaseMutex(mutex_);
    }
    MutexOwnership(const MutexOwnership&) = delete;
    MutexOwnership& operator=(const MutexOwnership&) = delete;

private:
    HANDLE mutex_ = nullptr;
};

}  // namespace quorvel::win32
