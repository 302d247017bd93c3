// The shutdown stand-in: a forced power-off or reboot starts the command the
// machine's [Shutdown] section names for it, detached and without a shell.
// A machine without one refuses the request, as a system refuses what it
// cannot do.
#include "platform/shutdown.h"

#include "platform/posix/command_line.h"
#include "platform/posix/machine.h"
#include "platform/posix/runtime/start.h"
#include "platform/posix/system_error.h"
#include "platform/system_error.h"
#include "platform/utf8.h"

namespace quorvel::platform {

// A process of its own has nothing to enable.
void EnableShutdownPrivilege() {}

std::uint32_t ExitWindowsEx(std::uint32_t flags) {
    const char* key = (flags & kExitReboot) ? "Reboot" : (flags & kExitShutdown) ? "PowerOff" : nullptr;
    if (key == nullptr) return kErrorNotSupported;
    const auto command = posix::MachineSetting("Shutdown", key);
    if (!command) return kErrorNotSupported;
    // Split as a command line is on Windows: blanks separate, double quotes group.
    std::vector<std::string> argv;
    for (const std::u16string& arg : posix::SplitCommandLine(FromUtf8(*command))) argv.push_back(ToUtf8(arg));
    if (argv.empty() || argv[0].empty()) return kErrorNotSupported;
    std::filesystem::path program = argv[0];
    if (argv[0].find('/') == std::string::npos) {
        const auto found = posix::FindProgram(argv[0], {});
        if (!found) return kErrorFileNotFound;
        program = *found;
    }
    const int error = posix::StartDetached(program, argv);
    return posix::SystemErrorOf(error);
}

}  // namespace quorvel::platform
