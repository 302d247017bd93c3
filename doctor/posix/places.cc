// Where the component keeps its state and its logs on the POSIX machine,
// and who the doctor runs as.
#include <pwd.h>
#include <unistd.h>

#include <string>

#include "doctor/audit_trail.h"
#include "doctor/checks.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace quorvel::doctor {

// The machine's own folder for them, whichever library is registered.
std::u16string ComponentStateFolder() { return platform::FromAnsi(platform::StateFolder()); }

// Beside the registered library, unless the host's dry run points the logs
// elsewhere.
std::u16string ComponentLogFolder() {
    if (const auto folder = platform::EnvironmentVariable("QUORVEL_LOG_FOLDER"); folder && !folder->empty())
        return platform::FromUtf8(*folder);
    return RegisteredComponentFolder();
}

std::uint32_t ProcessNumber() { return static_cast<std::uint32_t>(::getpid()); }

std::u16string ProcessAccount() {
    std::string buffer(16384, '\0');
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return platform::FromUtf8(found->pw_name);
    return platform::FromUtf8(std::to_string(::geteuid()));
}

}  // namespace quorvel::doctor
