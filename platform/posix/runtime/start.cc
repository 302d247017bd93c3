#include "platform/posix/runtime/start.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "base/ascii.h"

extern char** environ;

namespace quorvel::posix {
namespace {

bool IsExecutableFile(const std::filesystem::path& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::optional<std::filesystem::path> FindIn(const std::filesystem::path& folder, std::string_view name,
                                            std::string_view bare) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), &closedir);
    if (!dir) return std::nullopt;
    std::optional<std::filesystem::path> found;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string_view candidate(entry->d_name);
        if (!base::EqualsIgnoringAsciiCase(candidate, name) && !base::EqualsIgnoringAsciiCase(candidate, bare))
            continue;
        const std::filesystem::path path = folder / candidate;
        // An exact match wins over one that differs in case.
        if (IsExecutableFile(path) && (!found || candidate == name)) found = path;
    }
    return found;
}

void CloseFd(int fd) {
    if (fd >= 0) close(fd);
}

}  // namespace

std::optional<std::filesystem::path> FindProgram(std::string_view name,
                                                 const std::vector<std::filesystem::path>& folders) {
    if (name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
    std::string_view bare = name;
    if (bare.size() > 4 && base::EqualsIgnoringAsciiCase(bare.substr(bare.size() - 4), ".exe")) bare.remove_suffix(4);
    for (const auto& folder : folders)
        if (auto found = FindIn(folder, name, bare)) return found;
    const char* path = std::getenv("PATH");
    const std::string_view list = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    for (size_t pos = 0; pos <= list.size();) {
        size_t end = list.find(':', pos);
        if (end == std::string_view::npos) end = list.size();
        const std::string_view folder = list.substr(pos, end - pos);
        if (!folder.empty())
            if (auto found = FindIn(std::filesystem::path(folder), name, bare)) return found;
        pos = end + 1;
    }
    return std::nullopt;
}

int StartDetached(const std::filesystem::path& program, const std::vector<std::string>& argv) {
    // Everything the children use is made before fork: after it, in a
    // process that may have threads, only async-signal-safe calls are allowed.
    std::vector<std::string> args = argv;
    if (args.empty()) args.push_back(program.string());
    std::vector<char*> argp;
    for (std::string& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);
    const std::string file = program.string();

    // The grandchild reports a failed exec through the pipe; a successful
    // exec closes it (close-on-exec) with nothing written.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return errno;
    const pid_t child = fork();
    if (child < 0) {
        const int error = errno;
        CloseFd(report[0]);
        CloseFd(report[1]);
        return error;
    }
    if (child == 0) {
        const pid_t grandchild = fork();
        if (grandchild < 0) {
            const int error = errno;
            (void)!write(report[1], &error, sizeof error);
            _exit(1);
        }
        if (grandchild > 0) _exit(0);
        setsid();
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            if (null > STDERR_FILENO) close(null);
        }
        execve(file.c_str(), argp.data(), environ);
        const int error = errno;
        (void)!write(report[1], &error, sizeof error);
        _exit(127);
    }
    CloseFd(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    CloseFd(report[0]);
    return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

}  // namespace quorvel::posix
