// Shutting down or restarting the machine.
#pragma once

#include <cstdint>

namespace quorvel::platform {

// ExitWindowsEx flags.
enum ExitFlags : std::uint32_t {
    kExitShutdown = 0x1,
    kExitReboot = 0x2,
    kExitForce = 0x4,
};

// Enables SeShutdownPrivilege in the process token: OpenProcessToken of the
// current process, LookupPrivilegeValueA on the local system,
// AdjustTokenPrivileges. Every call is made; none of their outcomes is
// reported, and the privilege stays enabled.
void EnableShutdownPrivilege();

// ExitWindowsEx(flags, 0xFFFFFFFF): 0 when the request was accepted, else
// the system's error number for the refusal.
std::uint32_t ExitWindowsEx(std::uint32_t flags);

}  // namespace quorvel::platform
