// The machine folder of a command, and `quorvel init`, which makes one.
//
// Only regsvr and init make a machine folder: call, adsi and webmail need one
// that exists, so that a mistyped --machine is reported rather than turned
// into a new empty machine. A folder that cannot be made or written is named
// with the system's reason.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/posix/runtime/machine_folder.h"
#include "tools/quorvel/cli.h"

namespace quorvel::cli {
namespace {

namespace fs = std::filesystem;

std::string Prefix(std::string_view command) { return "quorvel " + std::string(command); }

int NoFolderNamed(std::string_view command) {
    std::fprintf(stderr, "%s: no machine folder: set QUORVEL_MACHINE, give --machine DIR, or set HOME\n",
                 Prefix(command).c_str());
    return kExitUnavailable;
}

// Writes and removes a file in the folder: the system's reason when it cannot.
std::string WriteProblem(const fs::path& folder) {
    const fs::path probe = folder / (".quorvel-write-test." + std::to_string(getpid()));
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

int CannotWrite(std::string_view command, const fs::path& folder, const std::string& reason) {
    std::fprintf(stderr, "%s: cannot write the machine folder %s: %s\n", Prefix(command).c_str(), folder.c_str(),
                 reason.c_str());
    return kExitCannotCreate;
}

}  // namespace

int RequireMachine(std::string_view command) {
    const fs::path folder = posix::LocateMachineFolder();
    if (folder.empty()) return NoFolderNamed(command);
    std::error_code ec;
    const fs::file_status status = fs::status(folder, ec);
    if (!fs::exists(status)) {
        std::fprintf(stderr,
                     "%s: the machine folder %s does not exist (%s); make it with `quorvel --machine %s init` "
                     "(`init --example` for a copy of the example machine), or name another with --machine\n",
                     Prefix(command).c_str(), folder.c_str(), ec ? ec.message().c_str() : "No such file or directory",
                     folder.c_str());
        return kExitUnavailable;
    }
    if (!fs::is_directory(status)) {
        std::fprintf(stderr, "%s: the machine folder %s is not a folder\n", Prefix(command).c_str(), folder.c_str());
        return kExitUnavailable;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return CannotWrite(command, folder, std::strerror(errno));
    return kExitOk;
}

int PrepareMachine(std::string_view command) {
    const fs::path folder = posix::LocateMachineFolder();
    if (folder.empty()) return NoFolderNamed(command);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) {
        std::fprintf(stderr, "%s: cannot make the machine folder %s: %s\n", Prefix(command).c_str(), folder.c_str(),
                     ec ? ec.message().c_str() : "a file of that name is in the way");
        return kExitCannotCreate;
    }
    if (const std::string problem = WriteProblem(folder); !problem.empty()) return CannotWrite(command, folder, problem);
    return kExitOk;
}

int RunInit(const Args& args) {
    if (AsksForHelp(args)) return PrintCommandHelp("init");
    bool example = false;
    std::string dir;
    for (const std::string& arg : args) {
        if (arg == "--example") {
            example = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return CommandUsageError("init", "unknown option " + arg);
        } else if (dir.empty()) {
            dir = arg;
        } else {
            return CommandUsageError("init", "one machine folder at a time");
        }
    }
    std::error_code ec;
    if (!dir.empty()) {
        const fs::path absolute = fs::absolute(dir, ec);
        if (ec || setenv("QUORVEL_MACHINE", absolute.c_str(), 1) != 0)
            return CommandUsageError("init", "cannot use '" + dir + "' as the machine folder");
    }
    const fs::path folder = posix::LocateMachineFolder();
    if (folder.empty()) return NoFolderNamed("init");
    if (fs::exists(folder, ec) && !(fs::is_directory(folder, ec) && fs::is_empty(folder, ec))) {
        std::fprintf(stderr,
                     "quorvel init: %s already exists and is not an empty folder; a machine is made in a new "
                     "folder (remove this one first to start again)\n",
                     folder.c_str());
        return kExitCannotCreate;
    }
    const fs::path source = ExampleMachine();
    if (example && !fs::is_directory(source, ec)) {
        std::fprintf(stderr, "quorvel init: the example machine is not at %s\n", source.c_str());
        return kExitUnavailable;
    }
    if (const int status = PrepareMachine("init"); status != kExitOk) return status;
    if (example) {
        fs::copy(source, folder, fs::copy_options::recursive, ec);
        if (ec) {
            std::fprintf(stderr, "quorvel init: cannot copy the example machine %s into %s: %s\n", source.c_str(),
                         folder.c_str(), ec.message().c_str());
            return kExitCannotCreate;
        }
        std::printf("made machine %s, a copy of the example machine (computer WEBHOST01, drive D with "
                    "D:\\Serv-U and D:\\MDaemon)\n",
                    folder.c_str());
    } else {
        std::printf("made machine %s\n", folder.c_str());
    }
    std::fflush(stdout);
    return RunRegsvr({});
}

}  // namespace quorvel::cli
