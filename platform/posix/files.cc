#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/posix/atomic_file.h"
#include "platform/posix/paths.h"
#include "platform/posix/runtime/machine_folder.h"
#include "platform/posix/runtime/module_path.h"
#include "platform/posix/system_error.h"
#include "platform/profile_io.h"
#include "platform/system_error.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace quorvel::platform {

namespace {
// The file at the path when it is an ordinary one (a name starting with a
// dot is a hidden file here); empty otherwise.
std::filesystem::path OrdinaryFile(std::string_view path) {
    // A search pattern is not a file name.
    if (path.find_first_of("*?") != std::string_view::npos) return {};
    std::filesystem::path mapped = posix::MapAnsiPath(path);
    const std::string name = mapped.filename().string();
    if (name.empty() || name[0] == '.') return {};
    struct stat st {};
    if (stat(mapped.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return mapped;
}
}  // namespace

std::optional<std::string> FindFileName(std::string_view path) {
    const std::filesystem::path found = OrdinaryFile(path);
    if (found.empty()) return std::nullopt;
    return ToAnsi(FromUtf8(found.filename().string()));
}

bool IsOrdinaryFile(std::string_view path) { return !OrdinaryFile(path).empty(); }

std::optional<std::string> ReadFileBytes(std::string_view path) {
    const std::filesystem::path mapped = posix::MapAnsiPath(path);
    const posix::UniqueFd fd(open(mapped.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    // Sized once from the file, so that a large file costs its size in memory.
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) return std::nullopt;
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    for (;;) {
        char more[4096];
        const bool full = done == bytes.size();  // at the size read: the end, or the file grew
        const ssize_t n = full ? read(fd.get(), more, sizeof more) : read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        if (full) bytes.append(more, static_cast<size_t>(n));
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

bool CreateEmptyFile(std::string_view path) {
    if (path.empty()) return false;
    const posix::UniqueFd fd(open(posix::MapAnsiPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    return static_cast<bool>(fd);
}

bool ReplaceFileBytes(std::string_view path, std::span<const std::string_view> pieces) {
    if (path.empty()) return false;
    return posix::AtomicWrite(posix::MapAnsiPath(path).string(), pieces);
}

std::string ModuleFolder() {
    const std::filesystem::path self = posix::ThisModulePath();
    if (self.empty()) return ".";
    std::error_code ec;
    std::filesystem::path file = std::filesystem::weakly_canonical(self, ec);
    if (ec) file = self;
    return ToAnsi(FromUtf8(file.parent_path().string()));
}

std::string LogFolder() {
    if (const char* folder = std::getenv("QUORVEL_LOG_FOLDER"); folder != nullptr && *folder != '\0') {
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
        return ToAnsi(FromUtf8(ec ? std::string(folder) : absolute.string()));
    }
    return ModuleFolder();
}

std::string StateFolder() {
    const std::filesystem::path machine = posix::MachineFolder();
    if (machine.empty()) return {};
    const std::filesystem::path folder = machine / "component";
    std::error_code ec;
    std::filesystem::create_directory(folder, ec);
    if (!std::filesystem::is_directory(folder, ec)) return {};
    return ToAnsi(FromUtf8(folder.string()));
}

struct AppendFile::Impl {
    int fd = -1;
};

AppendFile::AppendFile() : impl_(std::make_unique<Impl>()) {}

AppendFile::~AppendFile() { Close(); }

bool AppendFile::Open(std::string_view path) {
    Close();
    const std::filesystem::path mapped = posix::MapAnsiPath(path);
    impl_->fd = open(mapped.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    return impl_->fd >= 0;
}

bool AppendFile::Write(std::string_view bytes) {
    if (impl_->fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(impl_->fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool AppendFile::is_open() const { return impl_->fd >= 0; }

void AppendFile::Close() {
    if (impl_->fd >= 0) {
        close(impl_->fd);
        impl_->fd = -1;
    }
}

namespace {

bool IsFolder(const std::filesystem::path& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A file that is not there: missing itself, or below a missing folder.
FileStatus Missing(const std::filesystem::path& path) {
    return IsFolder(path.parent_path()) ? FileStatus::kFileNotFound : FileStatus::kPathNotFound;
}

// Why a call on `path` failed with `error`; ENOENT does not say whether the
// file or a folder of its path is missing, the folder does.
FileStatus StatusOf(int error, const std::filesystem::path& path) {
    return error == ENOENT ? Missing(path) : FileStatusOf(posix::SystemErrorOf(error));
}

}  // namespace

bool FileExists(std::string_view path) {
    if (path.empty()) return false;
    struct stat st {};
    return stat(posix::MapAnsiPath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FolderExists(std::string_view path) { return !path.empty() && IsFolder(posix::MapAnsiPath(path)); }

// The whole content of an open file; false with errno set when a read fails.
bool ReadAll(int fd, std::string& bytes) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

FileStatus CopyFileReplacing(std::string_view from, std::string_view to) {
    if (from.empty() || to.empty()) return FileStatus::kBadName;
    const std::filesystem::path source = posix::MapAnsiPath(from);
    const std::filesystem::path target = posix::MapAnsiPath(to);

    std::string bytes;
    const int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOTDIR ? Missing(source) : StatusOf(errno, source);
    struct stat st {};
    const bool folder = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    const mode_t source_mode = st.st_mode & 07777;
    const bool read_all = !folder && ReadAll(fd, bytes);
    const int read_error = errno;
    close(fd);
    if (folder) return FileStatus::kFileNotFound;  // a folder is not a file to copy
    if (!read_all) return StatusOf(read_error, source);

    // A folder, or a file without write permission (the read-only attribute),
    // is not replaced.
    if (stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return FileStatus::kAccessDenied;
    } else if (!IsFolder(target.parent_path())) {
        return FileStatus::kPathNotFound;
    }
    // The atomic replacement; it reports no cause of its own, the failing
    // call's errno names it. A new copy is no more readable than its source.
    errno = 0;
    if (posix::AtomicWrite(target.string(), bytes, source_mode)) return FileStatus::kDone;
    return errno == 0 ? FileStatus::kFailed : StatusOf(errno, target);
}

FileStatus DeleteFileForced(std::string_view path) {
    if (path.empty()) return FileStatus::kBadName;
    const std::filesystem::path mapped = posix::MapAnsiPath(path);
    struct stat st {};
    if (lstat(mapped.c_str(), &st) != 0) return Missing(mapped);
    if (S_ISDIR(st.st_mode)) return FileStatus::kFileNotFound;
    // Read-only files go too: on POSIX only the folder's permission counts.
    return unlink(mapped.c_str()) == 0 ? FileStatus::kDone : StatusOf(errno, mapped);
}

}  // namespace quorvel::platform
