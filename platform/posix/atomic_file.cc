#include "platform/posix/atomic_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <cerrno>
#include <cstdlib>
#include <optional>

namespace quorvel::posix {
namespace {

constexpr char kAccessAcl[] = "system.posix_acl_access";

std::atomic<BeforeWriteHook> before_write_hook{nullptr};

// Whether this process last looked for a file's stale copies long enough ago.
// Reading the folder on every write costs a flushed write a tenth of its
// time, and a stale copy is only garbage that nothing reads: a minute's wait
// (or quorvel doctor) is soon enough.
bool SweepDue(const std::filesystem::path& folder, const std::string& prefix) {
    static std::mutex mutex;
    static std::map<std::string, std::chrono::steady_clock::time_point> last_sweep;
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard<std::mutex> guard(mutex);
    if (last_sweep.size() > 4096) last_sweep.clear();
    const auto [it, fresh] = last_sweep.try_emplace((folder / prefix).string(), now);
    if (!fresh && now - it->second < std::chrono::minutes(1)) return false;
    it->second = now;
    return true;
}

// A writer killed between making its temporary file and renaming it leaves
// that file behind. Writers of one file take turns under its lock, so a
// later one removes what processes that are gone left there.
void RemoveStaleTemps(const std::filesystem::path& folder, const std::string& prefix) {
    if (!SweepDue(folder, prefix)) return;
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

// A new file beside `target` named `base` and a number of its own.
UniqueFd CreateBeside(const std::string& target, const std::string& base, mode_t mode, std::string& name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = Beside(target, base + std::to_string(counter++)).string();
        UniqueFd fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (fd || errno != EEXIST) return fd;
    }
    return UniqueFd();
}

// Who may open a file: its owner and group (none: left as made), its mode,
// and its access ACL as the raw attribute (empty when the mode says all).
struct Access {
    std::optional<std::pair<uid_t, gid_t>> owner;
    mode_t mode = 0600;
    std::string acl;
};

// The access ACL of the open file `fd`, or else of `path`.
std::string AclOf(int fd, const char* path) {
    auto get = [&](void* into, size_t size) {
        return fd >= 0 ? ::fgetxattr(fd, kAccessAcl, into, size) : ::getxattr(path, kAccessAcl, into, size);
    };
    for (;;) {
        const ssize_t size = get(nullptr, 0);
        if (size <= 0) return {};
        std::string acl(static_cast<size_t>(size), '\0');
        const ssize_t got = get(acl.data(), acl.size());
        if (got >= 0) {
            acl.resize(static_cast<size_t>(got));
            return acl;
        }
        if (errno != ERANGE) return {};  // ERANGE: it grew meanwhile
    }
}

bool Apply(int fd, const Access& access) {
    // The owner only root may give; the group, a member of it. What cannot be
    // kept stays ours.
    if (access.owner && ::fchown(fd, access.owner->first, access.owner->second) != 0)
        (void)::fchown(fd, static_cast<uid_t>(-1), access.owner->second);
    if (!access.acl.empty() && ::fsetxattr(fd, kAccessAcl, access.acl.data(), access.acl.size(), 0) != 0)
        return false;
    return ::fchmod(fd, access.mode) == 0;  // after fchown, which drops set-id bits
}

// What a file made beside `target` gets now (umask, the folder's default
// ACL), learnt from an empty one made and removed again.
std::optional<Access> FreshAccess(const std::string& target, const std::string& base) {
    std::string probe;
    const UniqueFd fd = CreateBeside(target, base, 0666, probe);
    if (!fd) return std::nullopt;
    struct stat st {};
    const bool known = ::fstat(fd.get(), &st) == 0;
    Access access{std::nullopt, static_cast<mode_t>(st.st_mode & 07777), AclOf(fd.get(), nullptr)};
    ::unlink(probe.c_str());
    if (!known) return std::nullopt;
    return access;
}

}  // namespace

std::filesystem::path Beside(const std::string& path, const std::string& name) {
    const std::filesystem::path p(path);
    return p.parent_path() / name;
}

void SetBeforeWriteHookForTests(BeforeWriteHook hook) { before_write_hook.store(hook); }

bool AtomicWrite(const std::string& path, std::span<const std::string_view> pieces, mode_t new_file_mode) {
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

    const std::filesystem::path target_path(target);
    const std::string prefix = "." + target_path.filename().string() + ".tmp";
    RemoveStaleTemps(target_path.parent_path(), prefix);
    const std::string base = prefix + std::to_string(::getpid()) + "-";
    std::string temp;
    UniqueFd fd = CreateBeside(target, base, 0600, temp);
    if (!fd) return false;

    // Nobody may open the copy who may not open the file: a handle opened
    // now would read every byte written later.
    bool ok = !existed || Apply(fd.get(), Access{std::pair(old.st_uid, old.st_gid),
                                                 static_cast<mode_t>(old.st_mode & 07777),
                                                 AclOf(-1, target.c_str())});
    if (ok) {
        if (const BeforeWriteHook hook = before_write_hook.load()) hook(temp);
    }
    for (const std::string_view bytes : pieces) {
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
    }
    if (ok && !existed) {
        std::optional<Access> fresh = FreshAccess(target, base);
        if (fresh) fresh->mode &= new_file_mode;
        ok = fresh && Apply(fd.get(), *fresh);
    }
    if (ok) ok = ::fdatasync(fd.get()) == 0;
    if (::close(fd.release()) != 0) ok = false;
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

}  // namespace quorvel::posix
