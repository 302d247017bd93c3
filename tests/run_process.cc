#include "run_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace quorvel::test {
namespace {

// The child's output goes to files rather than pipes: no deadlock however
// much it writes, and nothing to poll.
class CaptureFile {
public:
    CaptureFile() {
        char pattern[] = "/tmp/quorvel-capture-XXXXXX";
        fd_ = mkstemp(pattern);
        if (fd_ >= 0) path_ = pattern;
    }
    ~CaptureFile() {
        if (fd_ >= 0) close(fd_);
        if (!path_.empty()) unlink(path_.c_str());
    }
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;
    int fd() const { return fd_; }
    std::string Read() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    int fd_ = -1;
    std::string path_;
};

class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
    ProcessResult result;
    if (argv.empty()) return result;
    CaptureFile out;
    CaptureFile err;
    if (out.fd() < 0 || err.fd() < 0) return result;

    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& extra : environment) {
            if (extra.substr(0, extra.find('=')) == name) replaced = true;
        }
        if (!replaced) env_strings.push_back(entry);
    }
    env_strings.insert(env_strings.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (std::string& e : env_strings) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);

    SpawnActions actions;
    posix_spawn_file_actions_adddup2(actions.get(), out.fd(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(actions.get(), err.fd(), STDERR_FILENO);
    posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, argp[0], actions.get(), nullptr, argp.data(), envp.data()) != 0) return result;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return result;
    }
    result.out = out.Read();
    result.err = err.Read();
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    return result;
}

}  // namespace quorvel::test
