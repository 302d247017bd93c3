// A whole file replaced atomically, the way every writer on POSIX replaces
// one (the profile functions and the methods' own files alike).
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace quorvel::posix {

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

std::filesystem::path Beside(const std::string& path, const std::string& name);

// Replaces the file's contents atomically: a hidden temporary file in the same
// folder, flushed to disk, renamed over the file. `path` is a POSIX path.
// The content may come in pieces, written one after the other.
//
// The temporary file is never more readable than the file it replaces: it is
// made 0600 and takes the file's mode, group and access ACL before a byte is
// written. A new file is written 0600 and opened up only when whole, to what
// a file made in that folder gets (umask, default ACL), limited to
// `new_file_mode` (a copy of a file is no more readable than its source).
bool AtomicWrite(const std::string& path, std::span<const std::string_view> pieces, mode_t new_file_mode = 07777);
inline bool AtomicWrite(const std::string& path, std::string_view bytes, mode_t new_file_mode = 07777) {
    return AtomicWrite(path, std::span<const std::string_view>(&bytes, 1), new_file_mode);
}

// For tests: called with the temporary file's path after it took the
// replaced file's access and before its first byte is written.
using BeforeWriteHook = void (*)(const std::string& temporary);
void SetBeforeWriteHookForTests(BeforeWriteHook hook);

}  // namespace quorvel::posix
