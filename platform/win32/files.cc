#include "platform/files.h"

#include <windows.h>

#include <climits>
#include <string>

#include "platform/win32/handles.h"

namespace quorvel::platform {

std::optional<std::string> FindFileName(std::string_view path) {
    // An exact search: wildcards would turn it into a pattern match.
    if (path.empty() || path.find_first_of("*?") != std::string_view::npos) return std::nullopt;
    const std::string zpath(path);
    WIN32_FIND_DATAA found{};
    win32::FindHandle search(FindFirstFileA(zpath.c_str(), &found));
    if (!search.valid()) return std::nullopt;
    constexpr DWORD kNotOrdinary = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if ((found.dwFileAttributes & kNotOrdinary) != 0) return std::nullopt;
    return std::string(found.cFileName);
}

std::optional<std::string> ReadFileBytes(std::string_view path) {
    const std::string zpath(path);
    win32::Handle file(CreateFileA(zpath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return std::nullopt;
    std::string bytes;
    char buffer[16384];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr)) return std::nullopt;
        if (got == 0) return bytes;
        bytes.append(buffer, got);
    }
}

bool ReplaceFileBytes(std::string_view path, std::span<const std::string_view> pieces) {
    if (path.empty()) return false;
    const std::string target(path);
    const std::string temp = target + ".quorvel-tmp" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetCurrentThreadId());
    {
        win32::Handle file(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                       nullptr));
        if (!file.valid()) return false;
        bool ok = true;
        for (std::string_view bytes : pieces) {
            while (ok && !bytes.empty()) {
                const DWORD chunk = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
                DWORD written = 0;
                ok = WriteFile(file.get(), bytes.data(), chunk, &written, nullptr) != 0 && written > 0;
                if (ok) bytes.remove_prefix(written);
            }
        }
        ok = ok && FlushFileBuffers(file.get()) != 0;
        if (!ok) {
            file.reset();
            DeleteFileA(temp.c_str());
            return false;
        }
    }
    // A reader that holds the file open without delete sharing delays the
    // rename for a moment.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED && error != ERROR_LOCK_VIOLATION) break;
        Sleep(50);
    }
    DeleteFileA(temp.c_str());
    return false;
}

bool CreateEmptyFile(std::string_view path) {
    const std::string zpath(path);
    win32::Handle file(CreateFileA(zpath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid();
}

std::string ModuleFolder() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&ModuleFolder), &module)) {
        return {};
    }
    // Grow the buffer until the whole path fits (long paths exceed MAX_PATH).
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

struct AppendFile::Impl {
    win32::Handle file;
};

AppendFile::AppendFile() : impl_(std::make_unique<Impl>()) {}
AppendFile::~AppendFile() = default;

bool AppendFile::Open(std::string_view path) {
    Close();
    const std::string zpath(path);
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end,
    // also when another process appends at the same time.
    impl_->file.reset(CreateFileA(zpath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return impl_->file.valid();
}

bool AppendFile::Write(std::string_view bytes) {
    if (!impl_->file.valid() || bytes.size() > UINT_MAX) return false;
    DWORD written = 0;
    return WriteFile(impl_->file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0 &&
           written == bytes.size();
}

bool AppendFile::is_open() const { return impl_->file.valid(); }

void AppendFile::Close() { impl_->file.reset(); }

}  // namespace quorvel::platform
