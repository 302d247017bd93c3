#include "platform/files.h"

#include <windows.h>

#include <climits>
#include <string>

#include "platform/file_lock.h"
#include "platform/system_error.h"
#include "platform/text.h"
#include "platform/win32/handles.h"
#include "platform/win32/module_path.h"
#include "platform/win32/replace_file.h"
#include "platform/win32/wide.h"

namespace quorvel::platform {

namespace {
constexpr DWORD kNotOrdinary = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// An exact look-up: wildcards would turn it into a pattern match.
bool IsPattern(std::string_view path) { return path.empty() || path.find_first_of("*?") != std::string_view::npos; }
}  // namespace

std::optional<std::string> FindFileName(std::string_view path) {
    if (IsPattern(path)) return std::nullopt;
    const std::string zpath(path);
    WIN32_FIND_DATAA found{};
    win32::FindHandle search(FindFirstFileA(zpath.c_str(), &found));
    if (!search.valid()) return std::nullopt;
    if ((found.dwFileAttributes & kNotOrdinary) != 0) return std::nullopt;
    return std::string(found.cFileName);
}

bool IsOrdinaryFile(std::string_view path) {
    if (IsPattern(path)) return false;
    const DWORD attributes = GetFileAttributesA(std::string(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & kNotOrdinary) == 0;
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
    // A reader that holds the file open without delete sharing delays the
    // move for a moment.
    return win32::ReplaceFileWith(win32::WideFromAnsi(path), pieces, {.unique = true, .attempts = 5}) ==
           ERROR_SUCCESS;
}

bool CreateEmptyFile(std::string_view path) {
    const std::string zpath(path);
    win32::Handle file(CreateFileA(zpath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid();
}

std::string ModuleFolder() {
    const std::wstring path = win32::ThisModulePath();
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    return ToAnsi(std::u16string(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(slash)));
}

// One component per folder on Windows: its folder is its machine's.
std::string StateFolder() { return ModuleFolder(); }

std::string LogFolder() { return ModuleFolder(); }

struct AppendFile::Impl {
    win32::Handle file;
    std::string path;
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
    impl_->path = zpath;
    return impl_->file.valid();
}

bool AppendFile::Write(std::string_view bytes) {
    if (!impl_->file.valid() || bytes.size() > UINT_MAX) return false;
    // Appending handles of several writers can land at one offset where the
    // system emulates append (Wine), and a line would overwrite another: the
    // file's lock keeps each write whole.
    const FileLock lock(impl_->path);
    DWORD written = 0;
    return WriteFile(impl_->file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0 &&
           written == bytes.size();
}

bool AppendFile::is_open() const { return impl_->file.valid(); }

void AppendFile::Close() { impl_->file.reset(); }

namespace {

// The numbers platform/system_error.h names are the system's own.
static_assert(kErrorSuccess == ERROR_SUCCESS && kErrorFileNotFound == ERROR_FILE_NOT_FOUND &&
              kErrorPathNotFound == ERROR_PATH_NOT_FOUND && kErrorAccessDenied == ERROR_ACCESS_DENIED &&
              kErrorNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY && kErrorBadFormat == ERROR_BAD_FORMAT &&
              kErrorInvalidDrive == ERROR_INVALID_DRIVE && kErrorWriteProtect == ERROR_WRITE_PROTECT &&
              kErrorSharingViolation == ERROR_SHARING_VIOLATION && kErrorLockViolation == ERROR_LOCK_VIOLATION &&
              kErrorHandleDiskFull == ERROR_HANDLE_DISK_FULL && kErrorNotSupported == ERROR_NOT_SUPPORTED &&
              kErrorBadNetPath == ERROR_BAD_NETPATH && kErrorDiskFull == ERROR_DISK_FULL &&
              kErrorInvalidName == ERROR_INVALID_NAME && kErrorBadPathName == ERROR_BAD_PATHNAME &&
              kErrorFilenameTooLong == ERROR_FILENAME_EXCED_RANGE && kErrorDirectory == ERROR_DIRECTORY &&
              kErrorPrivilegeNotHeld == ERROR_PRIVILEGE_NOT_HELD);

constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;

FileStatus LastStatus() { return FileStatusOf(GetLastError()); }

DWORD Attributes(const std::wstring& path) { return path.empty() ? kNoAttributes : GetFileAttributesW(path.c_str()); }

}  // namespace

bool FileExists(std::string_view path) {
    const DWORD attributes = Attributes(win32::WideFromAnsi(path));
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(std::string_view path) {
    const DWORD attributes = Attributes(win32::WideFromAnsi(path));
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

FileStatus CopyFileReplacing(std::string_view from, std::string_view to) {
    const std::wstring source = win32::WideFromAnsi(from);
    const std::wstring target = win32::WideFromAnsi(to);
    if (source.empty() || target.empty()) return FileStatus::kBadName;
    const DWORD source_attributes = Attributes(source);
    if (source_attributes == kNoAttributes) return LastStatus();
    if ((source_attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileStatus::kFileNotFound;
    const DWORD target_attributes = Attributes(target);
    if (target_attributes != kNoAttributes &&
        (target_attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return FileStatus::kAccessDenied;
    }

    win32::Handle source_file(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source_file.valid()) return LastStatus();
    auto copy_source = [&](HANDLE copy) {
        char buffer[65536];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(source_file.get(), buffer, sizeof(buffer), &got, nullptr)) return false;
            if (got == 0) break;
            if (!win32::WriteAll(copy, std::string_view(buffer, got))) return false;
        }
        // A copy keeps the time its source was last written.
        FILETIME written{};
        return GetFileTime(source_file.get(), nullptr, nullptr, &written) &&
               SetFileTime(copy, nullptr, nullptr, &written);
    };
    // A reader that has the file open without delete sharing holds the move
    // off for a moment; the target is never written in place.
    const DWORD error = win32::ReplaceFileWith(target, copy_source, {.unique = true, .attempts = 5});
    if (error != ERROR_SUCCESS) return FileStatusOf(error);
    // A replaced file keeps its attributes; a new one does not take the
    // source's read-only attribute.
    DWORD attributes = target_attributes != kNoAttributes ? target_attributes
                                                         : (source_attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    SetFileAttributesW(target.c_str(), attributes);
    return FileStatus::kDone;
}

FileStatus DeleteFileForced(std::string_view path) {
    const std::wstring file = win32::WideFromAnsi(path);
    const DWORD attributes = Attributes(file);
    if (attributes == kNoAttributes) return file.empty() ? FileStatus::kBadName : LastStatus();
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileStatus::kFileNotFound;
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        !SetFileAttributesW(file.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
        return LastStatus();
    }
    if (DeleteFileW(file.c_str())) return FileStatus::kDone;
    const FileStatus status = LastStatus();
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) SetFileAttributesW(file.c_str(), attributes);
    return status;
}

}  // namespace quorvel::platform
