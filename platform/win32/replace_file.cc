#include "platform/win32/replace_file.h"

#include <atomic>
#include <vector>

#include "platform/win32/handles.h"

namespace quorvel::win32 {
namespace {

std::atomic<BeforeWriteHook> before_write_hook{nullptr};

// The file's DACL as a security descriptor to make the copy with; empty
// where the volume keeps no security. Each asking opens the file, so the
// first asks with room for a usual descriptor and a larger one asks again.
DWORD DaclOf(const std::wstring& file, std::vector<BYTE>& descriptor) {
    descriptor.resize(1024);
    for (;;) {
        DWORD needed = 0;
        if (GetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(),
                             static_cast<DWORD>(descriptor.size()), &needed)) {
            // Only the bytes it filled in belong to the descriptor.
            descriptor.resize(GetSecurityDescriptorLength(descriptor.data()));
            return ERROR_SUCCESS;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) {
            descriptor.clear();
            return ERROR_SUCCESS;
        }
        if (error != ERROR_INSUFFICIENT_BUFFER || needed <= descriptor.size()) return error;
        descriptor.resize(needed);
    }
}

void Remove(const std::wstring& file) {
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(file.c_str());
}

}  // namespace

bool IsHeldOpen(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

void SetBeforeWriteHookForTests(BeforeWriteHook hook) { before_write_hook.store(hook); }

DWORD ReplaceFileWith(const std::wstring& target, const ContentWriter& write, const Replacement& how) {
    // Nobody may open the copy who may not open the file: a handle opened
    // before the copy had the file's security would read all written later.
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    std::vector<BYTE> descriptor;
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (const DWORD error = DaclOf(target, descriptor); error != ERROR_SUCCESS) return error;
        if (!descriptor.empty()) security.lpSecurityDescriptor = descriptor.data();
    }
    static std::atomic<unsigned> counter{0};
    const std::wstring copy = how.unique ? target + how.ending + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                               std::to_wstring(counter++)
                                         : target + how.ending;
    auto create = [&] {
        return Handle(CreateFileW(copy.c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW, how.attributes, nullptr));
    };
    Handle file = create();
    if (!file.valid() && GetLastError() == ERROR_FILE_EXISTS && !how.unique) {
        Remove(copy);
        file = create();
    }
    if (!file.valid()) return GetLastError();
    if (const BeforeWriteHook hook = before_write_hook.load()) hook(copy);
    if (!write(file.get()) || !FlushFileBuffers(file.get())) {
        const DWORD error = GetLastError();
        file.reset();
        Remove(copy);
        return error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
    }
    file.reset();
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(copy.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return ERROR_SUCCESS;
        error = GetLastError();
        if (attempt >= how.attempts || !IsHeldOpen(error)) break;
        Sleep(50);
    }
    Remove(copy);
    return error;
}

DWORD ReplaceFileWith(const std::wstring& target, std::span<const std::string_view> pieces, const Replacement& how) {
    return ReplaceFileWith(
        target,
        [&](HANDLE copy) {
            for (const std::string_view bytes : pieces)
                if (!WriteAll(copy, bytes)) return false;
            return true;
        },
        how);
}

}  // namespace quorvel::win32
