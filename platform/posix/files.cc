#include "platform/files.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/posix/atomic_file.h"
#include "platform/posix/paths.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace quorvel::platform {

std::optional<std::string> FindFileName(std::string_view path) {
    // A search pattern is not a file name.
    if (path.find_first_of("*?") != std::string_view::npos) return std::nullopt;
    const std::filesystem::path mapped = posix::MapAnsiPath(path);
    const std::string name = mapped.filename().string();
    if (name.empty() || name[0] == '.') return std::nullopt;
    struct stat st {};
    if (stat(mapped.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return ToAnsi(FromUtf8(name));
}

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
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ModuleFolder), &info) == 0 || info.dli_fname == nullptr) return ".";
    std::error_code ec;
    std::filesystem::path file = std::filesystem::weakly_canonical(info.dli_fname, ec);
    if (ec) file = info.dli_fname;
    return ToAnsi(FromUtf8(file.parent_path().string()));
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

}  // namespace quorvel::platform
