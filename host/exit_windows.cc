// ExitWindows: the shutdown privilege, then one forced shutdown or restart.
//
// A request the system refuses is reported: the panel must not believe the
// server is going down when it is not. The error carries the system's number
// and text, so the log says why (no privilege, nothing configured, ...).
#include "host/exit_windows.h"

#include "base/ascii.h"
#include "component/frame/frame.h"
#include "platform/shutdown.h"
#include "platform/system.h"
#include "platform/text.h"

namespace quorvel::host {
namespace {

constexpr char16_t kShutdownSource[] = u"ExitWindowsEx";

void RequestExit(std::uint32_t flags) {
    const std::uint32_t refused = platform::ExitWindowsEx(flags);
    if (refused != 0)
        throw StepError(static_cast<std::int32_t>(refused), kShutdownSource,
                        platform::FromAnsi(platform::SystemErrorText(refused)));
}

}  // namespace

std::int32_t ExitWindows(std::u16string Action) {
    CallFrame frame(u"ExitWindows", ErrorMode::SingleHandler);
    return frame.Run([&]() -> std::int32_t {
        platform::EnableShutdownPrivilege();
        const std::u16string action = base::ToUpperAscii(Action);
        if (action == u"SHUTDOWN") {
            frame.Step([] { RequestExit(platform::kExitShutdown | platform::kExitForce); });
        } else if (action == u"REBOOT") {
            frame.Step([] { RequestExit(platform::kExitReboot | platform::kExitForce); });
        }
        return frame.Finish();
    });
}

}  // namespace quorvel::host
