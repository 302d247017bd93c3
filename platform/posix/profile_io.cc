// The profile functions' system part on POSIX: files of the machine folder
// found by their Windows path, replaced by rename, locked with flock.
#include "platform/profile_io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <utility>

#include "platform/posix/machine.h"
#include "platform/posix/paths.h"

namespace quorvel::platform::profile_io {
namespace {

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

Stamp StampOf(const struct stat& st) {
    Stamp s;
    s.exists = true;
    s.known = true;
    s.parts[0] = static_cast<std::uint64_t>(st.st_dev);
    s.parts[1] = static_cast<std::uint64_t>(st.st_ino);
    s.parts[2] = static_cast<std::uint64_t>(st.st_size);
    s.parts[3] = static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000000u + static_cast<std::uint64_t>(st.st_mtim.tv_nsec);
    s.parts[4] = static_cast<std::uint64_t>(st.st_ctim.tv_sec) * 1000000000u + static_cast<std::uint64_t>(st.st_ctim.tv_nsec);
    return s;
}

}  // namespace

Target Resolve(std::string_view file) {
    if (file.empty()) return {};
    std::string path = posix::MapAnsiPath(file).string();
    return {path, path};
}

Status Stat(const std::string& path, Stamp& stamp) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return Status::kError;
        stamp = StampOf(st);
        return Status::kExists;
    }
    stamp = Stamp{};
    return (errno == ENOENT || errno == ENOTDIR) ? Status::kMissing : Status::kError;
}

Status Read(const std::string& path, std::string& bytes, Stamp& stamp) {
    bytes.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        stamp = Stamp{};
        return (errno == ENOENT || errno == ENOTDIR) ? Status::kMissing : Status::kError;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return Status::kError;
    stamp = StampOf(st);
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    for (;;) {
        if (done == bytes.size()) bytes.resize(bytes.size() + 4096);  // the file grew
        const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Status::kError;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return Status::kExists;
}

namespace {

std::filesystem::path Beside(const std::string& path, const std::string& name) {
    const std::filesystem::path p(path);
    return p.parent_path() / name;
}

// A writer killed between making its temporary file and renaming it leaves
// that file behind. Writers of one file take turns under its lock, so the
// next one removes what processes that are gone left there.
void RemoveStaleTemps(const std::filesystem::path& folder, const std::string& prefix) {
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(prefix)) continue;
        const char* digits = name.c_str() + prefix.size();
        char* end = nullptr;
        const long pid = std::strtol(digits, &end, 10);
        if (end == digits || *end != '-' || pid <= 0 || pid == ::getpid()) continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        ::unlink(it->path().c_str());
    }
}

}  // namespace

// A hidden temporary file in the same folder, flushed to disk, renamed over
// the file.
bool Replace(const std::string& path, std::string_view bytes) {
    std::string target = path;
    struct stat lst {};
    if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;

    static std::atomic<unsigned> counter{0};
    const std::filesystem::path target_path(target);
    const std::string prefix = "." + target_path.filename().string() + ".tmp";
    RemoveStaleTemps(target_path.parent_path(), prefix);
    const std::string base = prefix + std::to_string(::getpid()) + "-";
    std::string temp;
    UniqueFd fd;
    for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
        temp = Beside(target, base + std::to_string(counter++)).string();
        fd = UniqueFd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!fd && errno != EEXIST) return false;
    }
    if (!fd) return false;

    bool ok = true;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
        } else {
            done += static_cast<size_t>(n);
        }
    }
    if (ok && existed) ok = ::fchmod(fd.get(), old.st_mode & 07777) == 0;
    if (ok) ok = ::fdatasync(fd.get()) == 0;
    if (::close(fd.release()) != 0) ok = false;
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

// An exclusive lock on the hidden `.NAME.lock` beside the file. flock locks
// belong to the open file, so two threads that each open it also exclude
// each other.
struct Lock::Impl {
    UniqueFd fd;
    ~Impl() {
        if (fd) ::flock(fd.get(), LOCK_UN);
    }
};

Lock::Lock(const std::string& /*key*/, const std::string& path) : impl_(std::make_unique<Impl>()) {
    const std::string name = "." + std::filesystem::path(path).filename().string() + ".lock";
    UniqueFd fd(::open(Beside(path, name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!fd) return;
    while (::flock(fd.get(), LOCK_EX) != 0) {
        if (errno != EINTR) return;
    }
    impl_->fd = std::move(fd);
}

Lock::~Lock() = default;
Lock::Lock(Lock&&) noexcept = default;

bool Lock::held() const { return impl_ && impl_->fd; }

struct LocalMutex::Impl {
    std::mutex mutex;
};
LocalMutex::LocalMutex() : impl_(std::make_unique<Impl>()) {}
LocalMutex::~LocalMutex() = default;
void LocalMutex::lock() { impl_->mutex.lock(); }
void LocalMutex::unlock() { impl_->mutex.unlock(); }

// Renames never wait for readers.
const bool kReadersTakeTheLock = false;

const LeadBytes& AnsiLeadBytes() { return LeadBytes::ForCodePage(posix::MachineCodePage()); }

}  // namespace quorvel::platform::profile_io
