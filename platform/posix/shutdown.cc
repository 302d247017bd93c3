// The shutdown stand-in: a forced power-off or reboot starts the command the
// machine's [Shutdown] section names for it, detached and without a shell.
// A machine without one refuses the request, as a system refuses what it
// cannot do.
#include "platform/shutdown.h"

#include <cerrno>

#include "platform/posix/command_line.h"
#include "platform/posix/machine.h"
#include "platform/posix/runtime/start.h"
#include "platform/utf8.h"

namespace quorvel::platform {
namespace {

constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kPathNotFound = 3;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kNotEnoughMemory = 8;
constexpr std::uint32_t kBadFormat = 11;
constexpr std::uint32_t kNotSupported = 50;

std::uint32_t SystemErrorOf(int error) {
    switch (error) {
        case ENOENT: return kFileNotFound;
        case ENOTDIR: return kPathNotFound;
        case EACCES:
        case EPERM: return kAccessDenied;
        case ENOEXEC: return kBadFormat;
        default: return kNotEnoughMemory;
    }
}

}  // namespace

// A process of its own has nothing to enable.
void EnableShutdownPrivilege() {}

std::uint32_t ExitWindowsEx(std::uint32_t flags) {
    const char* key = (flags & kExitReboot) ? "Reboot" : (flags & kExitShutdown) ? "PowerOff" : nullptr;
    if (key == nullptr) return kNotSupported;
    const auto command = posix::MachineSetting("Shutdown", key);
    if (!command) return kNotSupported;
    // Split as a command line is on Windows: blanks separate, double quotes group.
    std::vector<std::string> argv;
    for (const std::u16string& arg : posix::SplitCommandLine(FromUtf8(*command))) argv.push_back(ToUtf8(arg));
    if (argv.empty() || argv[0].empty()) return kNotSupported;
    std::filesystem::path program = argv[0];
    if (argv[0].find('/') == std::string::npos) {
        const auto found = posix::FindProgram(argv[0], {});
        if (!found) return kFileNotFound;
        program = *found;
    }
    const int error = posix::StartDetached(program, argv);
    return error == 0 ? 0 : SystemErrorOf(error);
}

}  // namespace quorvel::platform
