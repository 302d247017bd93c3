// The profile functions on POSIX: the engine over files. Reads go through a
// per-process cache that a stat revalidates; every change is written beside
// the file and renamed over it under a lock that other processes (and other
// threads of this one) respect, so a reader sees either the old file or the
// new one.
//
// A call that changes nothing leaves the file alone (bytes and time). On a
// missing file, reads create nothing, but every write call that succeeds
// leaves at least an empty file, as Windows opens the file for writing before
// it looks inside: deleting a key or a section, or writing empty content for
// a section, creates a 0-byte file. A null section fails and touches nothing.
#include "platform/profile.h"

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
#include <unordered_map>
#include <utility>

#include "platform/posix/atomic_file.h"
#include "platform/posix/paths.h"
#include "platform/posix/profile_engine.h"
#include "platform/posix/profile_file.h"

namespace quorvel::posix {
namespace {

// What tells one version of a file from another.
struct Stamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};

    static Stamp Of(const struct stat& st) {
        Stamp s;
        s.exists = true;
        s.dev = st.st_dev;
        s.ino = st.st_ino;
        s.size = st.st_size;
        s.mtime = st.st_mtim;
        s.ctime = st.st_ctim;
        return s;
    }
    bool operator==(const Stamp& o) const {
        if (exists != o.exists) return false;
        if (!exists) return true;
        return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
               ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

enum class StatResult { Exists, Missing, Error };

StatResult StatPath(const std::string& path, Stamp& stamp) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return StatResult::Error;
        stamp = Stamp::Of(st);
        return StatResult::Exists;
    }
    stamp = Stamp{};
    return (errno == ENOENT || errno == ENOTDIR) ? StatResult::Missing : StatResult::Error;
}

// The file's bytes and the stamp of what was read.
StatResult ReadFile(const std::string& path, std::string& bytes, Stamp& stamp) {
    bytes.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        stamp = Stamp{};
        return (errno == ENOENT || errno == ENOTDIR) ? StatResult::Missing : StatResult::Error;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return StatResult::Error;
    stamp = Stamp::Of(st);
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    for (;;) {
        if (done == bytes.size()) bytes.resize(bytes.size() + 4096);  // the file grew
        const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return StatResult::Error;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return StatResult::Exists;
}

// ---- the cache of parsed files ----

struct CachedFile {
    std::mutex mutex;
    bool loaded = false;
    Stamp stamp;
    ProfileEngine engine;
};

std::mutex g_cache_mutex;
std::unordered_map<std::string, std::shared_ptr<CachedFile>>& Cache() {
    static auto* cache = new std::unordered_map<std::string, std::shared_ptr<CachedFile>>();
    return *cache;
}

std::shared_ptr<CachedFile> CacheEntry(const std::string& path) {
    std::lock_guard<std::mutex> guard(g_cache_mutex);
    auto& cache = Cache();
    if (cache.size() > 256) {
        for (auto it = cache.begin(); it != cache.end();)
            it = it->second.use_count() == 1 ? cache.erase(it) : std::next(it);
    }
    auto& slot = cache[path];
    if (!slot) slot = std::make_shared<CachedFile>();
    return slot;
}

// Brings the entry up to date with the file; false when the file can't be read.
// The caller holds the entry's mutex.
bool Revalidate(CachedFile& entry, const std::string& path) {
    if (entry.loaded) {
        Stamp now;
        const StatResult r = StatPath(path, now);
        if (r == StatResult::Error) return false;
        if (now == entry.stamp) return true;
    }
    std::string bytes;
    Stamp stamp;
    const StatResult r = ReadFile(path, bytes, stamp);
    if (r == StatResult::Error) {
        entry.loaded = false;
        return false;
    }
    entry.engine = ProfileEngine::Parse(bytes);
    entry.stamp = stamp;
    entry.loaded = true;
    return true;
}

// ---- sessions ----

struct SessionState {
    std::string path;
    FileLock lock;
    ProfileEngine engine;
    bool registered = false;  // routed to by this thread's calls
    bool exists = false;      // the file is on disk
    bool dirty = false;       // the copy differs from the file
    bool touch = false;       // a call that changed nothing still creates a missing file
    bool failed = false;      // a write failed: the copy may not be what the file holds

    SessionState(std::string p, FileLock l) : path(std::move(p)), lock(std::move(l)) {}
    ~SessionState();
    SessionState(const SessionState&) = delete;
    SessionState& operator=(const SessionState&) = delete;

    bool Commit() {
        if (dirty) {
            if (!AtomicWrite(path, engine.Serialize())) {
                failed = true;
                return false;
            }
            dirty = false;
            touch = false;
            exists = true;
        } else if (touch && !exists) {
            if (!AtomicWrite(path, std::string_view())) return false;
            touch = false;
            exists = true;
        }
        return true;
    }
};

// This thread's sessions by mapped path, and by the names callers gave, so
// that calls inside a session need not map the name again.
struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
template <typename T>
using StringMap = std::unordered_map<std::string, T, StringHash, std::equal_to<>>;

thread_local StringMap<std::weak_ptr<SessionState>> t_sessions;
thread_local StringMap<std::weak_ptr<SessionState>> t_session_names;

std::shared_ptr<SessionState> SessionFor(const std::string& path) {
    if (t_sessions.empty()) return nullptr;
    const auto it = t_sessions.find(path);
    return it == t_sessions.end() ? nullptr : it->second.lock();
}

std::shared_ptr<SessionState> SessionNamed(std::string_view file) {
    if (t_session_names.empty()) return nullptr;
    const auto it = t_session_names.find(file);
    return it == t_session_names.end() ? nullptr : it->second.lock();
}

// The last handle of a session is gone: write what is pending, give the copy
// back to the cache, then (members) release the lock.
SessionState::~SessionState() {
    if (!registered) return;
    t_sessions.erase(path);
    for (auto it = t_session_names.begin(); it != t_session_names.end();)
        it = it->second.expired() ? t_session_names.erase(it) : std::next(it);
    const bool committed = Commit();
    auto entry = CacheEntry(path);
    std::lock_guard<std::mutex> guard(entry->mutex);
    Stamp stamp;
    if (committed && !failed && StatPath(path, stamp) != StatResult::Error) {
        entry->engine = std::move(engine);
        entry->stamp = stamp;
        entry->loaded = true;
    } else {
        entry->loaded = false;
    }
}

std::string MapFile(std::string_view file) {
    if (file.empty()) return {};
    return MapAnsiPath(file).string();
}

// One change, applied to the thread's session copy or to the file.
template <typename Op>
bool Apply(std::string_view file, Op&& op) {
    auto session = SessionNamed(file);
    const std::string path = session ? session->path : MapFile(file);
    if (path.empty()) return false;
    if (!session) session = SessionFor(path);
    if (session) {
        const ProfileEngine::Result r = op(session->engine);
        if (!r.ok) return false;
        if (r.changed) session->dirty = true;
        if (!session->exists) session->touch = true;
        return true;
    }
    FileLock lock(path);
    if (!lock.held()) return false;
    auto entry = CacheEntry(path);
    std::lock_guard<std::mutex> guard(entry->mutex);
    if (!Revalidate(*entry, path)) return false;
    const ProfileEngine::Result r = op(entry->engine);
    if (!r.ok) return false;
    if (!r.changed && entry->stamp.exists) return true;
    // A change, or a call on a missing file, which leaves at least an empty file.
    const std::string bytes = r.changed ? entry->engine.Serialize() : std::string();
    if (!AtomicWrite(path, bytes)) {
        entry->loaded = false;
        return false;
    }
    Stamp stamp;
    if (StatPath(path, stamp) == StatResult::Exists) {
        entry->stamp = stamp;
    } else {
        entry->loaded = false;
    }
    return true;
}

}  // namespace

uint32_t ProfileGetString(ProfileName section, ProfileName key, uint32_t size, std::string_view file,
                          std::string& value) {
    value.clear();
    if (auto session = SessionNamed(file)) return session->engine.GetString(section, key, size, value);
    const std::string path = MapFile(file);
    if (path.empty()) return 0;
    if (auto session = SessionFor(path)) return session->engine.GetString(section, key, size, value);
    auto entry = CacheEntry(path);
    std::lock_guard<std::mutex> guard(entry->mutex);
    if (!Revalidate(*entry, path)) return 0;
    return entry->engine.GetString(section, key, size, value);
}

bool ProfileWriteString(ProfileName section, ProfileName key, ProfileName value, std::string_view file) {
    if (!section) return !key && !value;  // all null only flushes, which we never need
    return Apply(file, [&](ProfileEngine& e) { return e.WriteString(section, key, value); });
}

bool ProfileWriteSection(ProfileName section, ProfileName content, std::string_view file) {
    if (!section) return !content;
    return Apply(file, [&](ProfileEngine& e) { return e.WriteSection(section, content); });
}

}  // namespace quorvel::posix

namespace quorvel::platform {

uint32_t GetPrivateProfileString(std::string_view section, std::string_view key, uint32_t size,
                                 std::string_view file, std::string& value) {
    return posix::ProfileGetString(section, key, size, file, value);
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::optional<std::string_view> value, std::string_view file) {
    return posix::ProfileWriteString(section, key, value, file);
}

bool WritePrivateProfileSection(std::string_view section, std::optional<std::string_view> content,
                                std::string_view file) {
    return posix::ProfileWriteSection(section, content, file);
}

struct ProfileSession::Impl {
    std::shared_ptr<posix::SessionState> state;  // shared by the sessions this thread nests on one file
};

ProfileSession::ProfileSession(std::string_view file) : impl_(std::make_unique<Impl>()) {
    using namespace posix;
    const std::string path = MapFile(file);
    if (path.empty()) return;
    if (auto existing = SessionFor(path)) {  // this thread already holds the file: join
        impl_->state = std::move(existing);
        return;
    }
    FileLock lock(path);
    if (!lock.held()) return;
    auto state = std::make_shared<SessionState>(path, std::move(lock));
    {
        auto entry = CacheEntry(path);
        std::lock_guard<std::mutex> guard(entry->mutex);
        if (!Revalidate(*entry, path)) return;
        // The session owns the parsed copy until it ends; readers elsewhere
        // parse the old file again if they need it.
        state->engine = std::move(entry->engine);
        state->exists = entry->stamp.exists;
        entry->loaded = false;
    }
    state->registered = true;
    t_sessions[path] = state;
    t_session_names[std::string(file)] = state;
    impl_->state = std::move(state);
}

ProfileSession::~ProfileSession() = default;

bool ProfileSession::locked() const { return impl_->state != nullptr; }

bool ProfileSession::Commit() { return impl_->state ? impl_->state->Commit() : false; }

}  // namespace quorvel::platform
