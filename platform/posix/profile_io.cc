// The profile functions' system part on POSIX: files of the machine folder
// found by their Windows path, replaced by rename, locked with flock.
#include "platform/profile_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <utility>

#include "platform/posix/atomic_file.h"
#include "platform/posix/machine.h"
#include "platform/posix/paths.h"
#include "platform/posix/system_error.h"
#include "platform/system_error.h"

namespace quorvel::platform::profile_io {
namespace {

using posix::Beside;
using posix::UniqueFd;

// Gives the buffer its pages in one system call rather than a fault each:
// a call that reads a file of a thousand accounts once would spend more on
// faulting its buffer in than on reading the file. Where the system cannot,
// the pages come as they are touched.
void Populate(char* data, size_t size) {
#ifdef MADV_POPULATE_WRITE
    constexpr uintptr_t kPage = 4096;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kPage - 1);
    if (end > begin + 16 * kPage) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)size;
#endif
}

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
    return IsNotFound(posix::SystemErrorOf(errno)) ? Status::kMissing : Status::kError;
}

Status Read(const std::string& path, std::string& bytes, Stamp& stamp, const Stamp* known) {
    bytes.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        stamp = Stamp{};
        if (!IsNotFound(posix::SystemErrorOf(errno))) return Status::kError;
        return known != nullptr && *known == stamp ? Status::kUnchanged : Status::kMissing;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return Status::kError;
    stamp = StampOf(st);
    if (known != nullptr && *known == stamp) return Status::kUnchanged;
    // One byte more than the file holds, so that the read that finds its end
    // needs no bigger buffer (and no copy of the bytes read).
    bytes.reserve(static_cast<size_t>(st.st_size) + 1);
    Populate(bytes.data(), bytes.capacity());
    bytes.resize(static_cast<size_t>(st.st_size) + 1);
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

bool Replace(const std::string& path, std::string_view bytes, Stamp& stamp) {
    if (!posix::AtomicWrite(path, bytes)) return false;
    if (Stat(path, stamp) != Status::kExists) stamp = Stamp{};
    return true;
}

// An exclusive lock on the hidden `.NAME.lock` beside the file. flock locks
// belong to the open file, so two threads that each open it also exclude
// each other; the kernel drops the lock of a process that dies. A thread
// that holds a file's lock may take it again (as a Windows mutex allows):
// a flock on a second descriptor would wait for itself.
namespace {
thread_local std::map<std::string, int> held_here;
}

struct Lock::Impl {
    std::string key;
    UniqueFd fd;
    bool nested = false;
    ~Impl() {
        if (fd) ::flock(fd.get(), LOCK_UN);
        if (fd || nested) {
            const auto it = held_here.find(key);
            if (it != held_here.end() && --it->second == 0) held_here.erase(it);
        }
    }
};

Lock::Lock(const std::string& key, const std::string& path) : impl_(std::make_unique<Impl>()) {
    impl_->key = key;
    if (const auto it = held_here.find(key); it != held_here.end()) {
        ++it->second;
        impl_->nested = true;
        return;
    }
    const std::string name = "." + std::filesystem::path(path).filename().string() + ".lock";
    const std::string lock_path = Beside(path, name).string();
    for (;;) {
        UniqueFd fd(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
        if (!fd) return;
        while (::flock(fd.get(), LOCK_EX) != 0) {
            if (errno != EINTR) return;
        }
        // A lock file may be removed by the one who holds it (quorvel doctor
        // clears those whose file is gone): a lock taken on a file that is
        // no longer at its name excludes nobody, so it is taken again there.
        struct stat held {}, named {};
        if (::fstat(fd.get(), &held) != 0) return;
        const bool moved = ::stat(lock_path.c_str(), &named) != 0
                               ? errno == ENOENT
                               : named.st_dev != held.st_dev || named.st_ino != held.st_ino;
        if (!moved) {
            impl_->fd = std::move(fd);
            held_here[key] = 1;
            return;
        }
    }
}

Lock::~Lock() = default;
Lock::Lock(Lock&&) noexcept = default;

bool Lock::held() const { return impl_ && (impl_->fd || impl_->nested); }

struct LocalMutex::Impl {
    std::mutex mutex;
};
LocalMutex::LocalMutex() : impl_(std::make_unique<Impl>()) {}
LocalMutex::~LocalMutex() = default;
void LocalMutex::lock() { impl_->mutex.lock(); }
void LocalMutex::unlock() { impl_->mutex.unlock(); }

// Renames never wait for readers.
const bool kReadersTakeTheLock = false;

const profile::LeadBytes& AnsiLeadBytes() { return profile::LeadBytes::ForCodePage(posix::MachineCodePage()); }

}  // namespace quorvel::platform::profile_io
