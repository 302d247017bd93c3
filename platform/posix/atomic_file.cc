#include "platform/posix/atomic_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace quorvel::posix {
namespace {

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

std::filesystem::path Beside(const std::string& path, const std::string& name) {
    const std::filesystem::path p(path);
    return p.parent_path() / name;
}

bool AtomicWrite(const std::string& path, std::span<const std::string_view> pieces) {
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
    if (ok && existed) ok = ::fchmod(fd.get(), old.st_mode & 07777) == 0;
    if (ok) ok = ::fdatasync(fd.get()) == 0;
    if (::close(fd.release()) != 0) ok = false;
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

}  // namespace quorvel::posix
