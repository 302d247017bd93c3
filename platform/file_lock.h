// The lock of one file: every call that rewrites the file, or copies or
// replaces it whole, holds it for the whole of that work, so that calls on
// other threads and in other processes never interleave with it. It is the
// lock the profile functions take, so profile files are covered too; every
// spelling of a path names the same lock.
#pragma once

#include <memory>
#include <string_view>

namespace quorvel::platform {

class FileLock {
public:
    // `path` names the file (Windows form, system code page); the file need
    // not exist, its folder must. Waits for the lock (on Windows at most 30
    // seconds). A lock whose holder died never blocks. The thread that holds
    // it may take it again, e.g. through the profile functions.
    explicit FileLock(std::string_view path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // False when the lock could not be taken.
    bool held() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace quorvel::platform
