#include "platform/win32/replace_file.h"

#include <winternl.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/win32/handles.h"

namespace quorvel::win32 {
namespace {

std::atomic<BeforeWriteHook> before_write_hook{nullptr};

// The file's DACL as a security descriptor to make the copy with; empty
// where the volume keeps no security.
DWORD DaclOf(const std::wstring& file, std::vector<BYTE>& descriptor) {
    const Handle opened(CreateFileW(file.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (!opened.valid()) return GetLastError();
    return win32::DaclOf(opened.get(), descriptor);
}

// The NT name of a path, as the native calls take it: \??\C:\dir\file,
// \??\UNC\server\share\file.
std::wstring NtName(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(needed, L'\0');
    const DWORD length = needed == 0 ? 0 : GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return {};
    full.resize(length);
    if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return L"\\??\\" + full.substr(4);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\??\\UNC\\" + full.substr(2);
    return L"\\??\\" + full;
}

// Moves the open file over `target`. Through the handle that wrote it: by
// name, the move would open the file once more (under Wine, three more round
// trips to its server), and the handle could not tell what it became.
DWORD MoveOver(HANDLE file, const std::wstring& target) {
    const std::wstring name = NtName(target);
    if (name.empty()) return GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_INVALID_NAME;
    const size_t bytes = name.size() * sizeof(wchar_t);
    std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFORMATION, FileName) + bytes + sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<ULONG>(bytes);
    std::memcpy(info->FileName, name.data(), bytes);
    IO_STATUS_BLOCK status{};
    const NTSTATUS result =
        NtSetInformationFile(file, &status, info, static_cast<ULONG>(buffer.size()), FileRenameInformation);
    return NT_SUCCESS(result) ? ERROR_SUCCESS : RtlNtStatusToDosError(result);
}

void Remove(const std::wstring& file) {
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(file.c_str());
}

}  // namespace

// Asked first with room for a usual descriptor, and again with what a larger one needs.
DWORD DaclOf(HANDLE file, std::vector<BYTE>& descriptor) {
    descriptor.resize(1024);
    for (;;) {
        DWORD needed = 0;
        if (GetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, descriptor.data(),
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
    if (how.dacl != nullptr) {
        descriptor = *how.dacl;
    } else if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (const DWORD error = DaclOf(target, descriptor); error != ERROR_SUCCESS) return error;
    }
    if (!descriptor.empty()) security.lpSecurityDescriptor = descriptor.data();
    static std::atomic<unsigned> counter{0};
    const std::wstring copy = how.unique ? target + how.ending + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                               std::to_wstring(counter++)
                                         : target + how.ending;
    auto create = [&] {
        return Handle(CreateFileW(copy.c_str(), GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, 0, &security,
                                  CREATE_NEW, how.attributes, nullptr));
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
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 1;; ++attempt) {
        error = MoveOver(file.get(), target);
        if (error == ERROR_SUCCESS) {
            if (how.moved) how.moved(file.get());
            return ERROR_SUCCESS;
        }
        if (attempt >= how.attempts || !IsHeldOpen(error)) break;
        Sleep(50);
    }
    file.reset();
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
