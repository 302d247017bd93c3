// cmd: the command interpreter of the POSIX machine, for the command lines
// the component starts. It knows one form, as the arguments WinExec split:
//
//   cmd /c [echo TEXT|] PROGRAM [ARG ...]
//
// PROGRAM is found as Windows finds it (beside this program, then PATH,
// without regard to case), started without a shell and waited for; TEXT
// followed by CR LF is its standard input. Its exit status is ours. Anything
// else (another pipe, a redirection, a second command) runs nothing.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/ascii.h"
#include "platform/posix/runtime/start.h"

extern char** environ;

namespace {

using quorvel::base::EqualsIgnoringAsciiCase;

constexpr int kUsage = 2;
constexpr int kNotFound = 127;

int Usage(const char* why) {
    std::fprintf(stderr,
                 "cmd: %s\n"
                 "usage: cmd /c [echo TEXT|] PROGRAM [ARG ...]\n"
                 "Runs PROGRAM (found beside cmd, then in PATH, any letter case) without a shell,\n"
                 "with TEXT and CR LF as its standard input; exits with its status.\n",
                 why);
    return kUsage;
}

std::filesystem::path SelfFolder() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self.parent_path();
}

// Runs the program with `input` on its standard input and waits for it.
int Run(const std::filesystem::path& program, std::vector<std::string> args, const std::string& input) {
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return 1;
    // A line or two fits the pipe's buffer: written before the program starts.
    if (!input.empty() && write(pipe_fds[1], input.data(), input.size()) < 0) return 1;
    close(pipe_fds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], STDIN_FILENO);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[0]);
    if (error != 0) {
        std::fprintf(stderr, "cmd: %s: %s\n", program.c_str(), std::strerror(error));
        return kNotFound;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "/?")) {
        Usage("help");
        return 0;
    }
    if (args.empty() || !EqualsIgnoringAsciiCase(args[0], "/c")) return Usage("only /c is known");
    args.erase(args.begin());

    std::string input;
    if (!args.empty() && EqualsIgnoringAsciiCase(args[0], "echo")) {
        // echo TEXT| PROGRAM: the pipe ends the text, inside a word or as one.
        std::string text;
        size_t n = 1;
        std::string rest;
        for (; n < args.size(); ++n) {
            const size_t bar = args[n].find('|');
            if (bar == std::string::npos) {
                text += (text.empty() ? "" : " ") + args[n];
                continue;
            }
            text += (text.empty() || bar == 0 ? "" : " ") + args[n].substr(0, bar);
            rest = args[n].substr(bar + 1);
            break;
        }
        if (n == args.size()) return Usage("echo without a pipe");
        args.erase(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(n) + 1);
        if (!rest.empty()) args.insert(args.begin(), rest);
        input = text + "\r\n";
    }
    if (args.empty()) return Usage("no program");
    for (const std::string& arg : args)
        if (arg.find_first_of("&|<>^") != std::string::npos) return Usage("only one program can be run");

    const auto program = args[0].find('/') != std::string::npos
                             ? std::optional<std::filesystem::path>(args[0])
                             : quorvel::posix::FindProgram(args[0], {SelfFolder()});
    if (!program) {
        std::fprintf(stderr, "cmd: '%s' is not a program found beside cmd or in PATH\n", args[0].c_str());
        return kNotFound;
    }
    return Run(*program, args, input);
}
