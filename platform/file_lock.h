// The lock every writer of one file takes for its whole read-modify-write, so
// that calls on other threads and in other processes (the component, the
// host's tools, the webmail stand-in) never interleave their changes. Methods
// that copy or restore a file take it too, so that they never see half of a
// change. Profile files use the same lock.
#pragma once

#include <memory>
#include <string_view>

namespace quorvel::platform {

class FileLock {
public:
    // `path` names the file (Windows form, system code page); the file need
    // not exist, its folder must. Waits until the lock is free. A lock whose
    // holder died never blocks. The thread that holds it may take it again.
    explicit FileLock(std::string_view path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // False when the lock could not be taken (the folder is missing).
    bool held() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace quorvel::platform
