// Forced shutdown and reboot of the machine.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel::host {

// Enables the shutdown privilege and, for SHUTDOWN or REBOOT, asks for a
// forced power-off or restart without waiting for it. 0 when the request was
// made (or none was asked for), 4 when the system refused it.
std::int32_t ExitWindows(std::u16string Action);

}  // namespace quorvel::host
