// What the profile functions (profile/profile.cc, the same in both builds)
// need from the system: finding, reading, replacing and locking a file, and
// the ANSI code page's double-byte characters. platform/posix/profile_io.cc
// and platform/win32/profile_io.cc implement it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "profile/engine/profile_engine.h"

namespace quorvel::platform::profile_io {

// The file a name given by a caller (a Windows path in the ANSI code page)
// designates. `key` is the same for every spelling of one file; `path` is
// what the other calls here take. Both are empty when the name designates
// nothing a profile can be kept in.
struct Target {
    std::string key;
    std::string path;
};
Target Resolve(std::string_view file);

// What tells one version of a file from another. Two stamps compare equal
// only when both are known and the file was not replaced or written between
// them; a system that cannot tell leaves `known` false, and the file is read
// again every time.
struct Stamp {
    bool exists = false;
    bool known = false;
    std::uint64_t parts[6] = {};
    bool operator==(const Stamp& other) const {
        if (exists != other.exists) return false;
        if (!exists) return true;
        if (!known || !other.known) return false;
        for (size_t i = 0; i < std::size(parts); ++i)
            if (parts[i] != other.parts[i]) return false;
        return true;
    }
};

enum class Status { kExists, kMissing, kError, kUnchanged };

Status Stat(const std::string& path, Stamp& stamp);
// The file's bytes and stamp. Given the stamp of a copy read before, a file
// that still has it is not read again: kUnchanged, with `bytes` empty. One
// opening of the file either way.
Status Read(const std::string& path, std::string& bytes, Stamp& stamp, const Stamp* known = nullptr);

// Replaces the file's bytes, atomically where the system allows it: readers
// see the old file or the new one. A missing file is created. `stamp`
// receives the new file's (not known, when it cannot be told).
bool Replace(const std::string& path, std::string_view bytes, Stamp& stamp);

// Excludes the other holders of the same file's lock, in this process and in
// others, while it lives. `key` is the Target's key.
class Lock {
public:
    Lock(const std::string& key, const std::string& path);
    ~Lock();
    Lock(Lock&&) noexcept;
    Lock& operator=(Lock&&) = delete;
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    bool held() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// A lock among the threads of this process, for the cache of parsed files.
class LocalMutex {
public:
    LocalMutex();
    ~LocalMutex();
    LocalMutex(const LocalMutex&) = delete;
    LocalMutex& operator=(const LocalMutex&) = delete;
    void lock();
    void unlock();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

class LocalLock {
public:
    explicit LocalLock(LocalMutex& mutex) : mutex_(mutex) { mutex_.lock(); }
    ~LocalLock() { mutex_.unlock(); }
    LocalLock(const LocalLock&) = delete;
    LocalLock& operator=(const LocalLock&) = delete;

private:
    LocalMutex& mutex_;
};

// Whether readers must take the lock too: where a reader's open file keeps a
// writer from replacing it.
extern const bool kReadersTakeTheLock;

// The lead bytes of the system's ANSI code page.
const profile::LeadBytes& AnsiLeadBytes();

}  // namespace quorvel::platform::profile_io
