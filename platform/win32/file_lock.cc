#include "platform/file_lock.h"

#include "platform/win32/file_mutex.h"
#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

namespace quorvel::win32 {
namespace {

constexpr DWORD kLockTimeoutMs = 30000;

// Mutex names cannot hold '\' and are limited in length; a hash of the key
// names the file. Two files that share a hash only wait for each other.
std::wstring MutexName(const std::wstring& key) {
    unsigned long long hash = 14695981039346656037ull;
    for (wchar_t ch : key) {
        hash ^= static_cast<unsigned long long>(ch);
        hash *= 1099511628211ull;
    }
    wchar_t name[64];
    wsprintfW(name, L"Global\\quorvel-profile-%08lx%08lx", static_cast<unsigned long>(hash >> 32),
              static_cast<unsigned long>(hash & 0xffffffffu));
    return name;
}

}  // namespace

std::wstring NormalizedPathKey(const std::wstring& path) {
    if (path.empty()) return {};
    DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return {};
    full.resize(length);
    for (auto& ch : full) {
        if (ch == L'/') ch = L'\\';
    }
    CharUpperBuffW(full.data(), static_cast<DWORD>(full.size()));
    return full;
}

HANDLE OpenFileMutex(const std::wstring& key) {
    if (key.empty()) return nullptr;
    const std::wstring name = MutexName(key);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    // Made by another account whose default ACL does not grant creation rights to us.
    if (mutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
        mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
    }
    return mutex;
}

bool WaitForFileMutex(HANDLE mutex) {
    const DWORD wait = WaitForSingleObject(mutex, kLockTimeoutMs);
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

}  // namespace quorvel::win32

namespace quorvel::platform {

struct FileLock::Impl {
    win32::Handle mutex;
    bool owned = false;
};

FileLock::FileLock(std::string_view path) : impl_(std::make_unique<Impl>()) {
    impl_->mutex.reset(win32::OpenFileMutex(win32::NormalizedPathKey(win32::WideFromAnsi(path))));
    if (impl_->mutex.valid()) impl_->owned = win32::WaitForFileMutex(impl_->mutex.get());
}

FileLock::~FileLock() {
    if (impl_->owned) ReleaseMutex(impl_->mutex.get());
}

bool FileLock::held() const { return impl_->owned; }

}  // namespace quorvel::platform
