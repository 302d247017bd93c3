#include "platform/shutdown.h"

#include <windows.h>

#include "platform/win32/handles.h"

namespace quorvel::platform {

void EnableShutdownPrivilege() {
    HANDLE raw = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw);
    const win32::Handle token(raw);
    LUID privilege{};
    LookupPrivilegeValueA("", "SeShutdownPrivilege", &privilege);
    TOKEN_PRIVILEGES wanted{};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Luid = privilege;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    TOKEN_PRIVILEGES previous{};
    DWORD previous_length = 0;
    static_assert(sizeof(TOKEN_PRIVILEGES) == 16);
    AdjustTokenPrivileges(token.get(), FALSE, &wanted, sizeof wanted, &previous, &previous_length);
}

std::uint32_t ExitWindowsEx(std::uint32_t flags) {
    if (::ExitWindowsEx(flags, 0xFFFFFFFF)) return 0;
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;
}

}  // namespace quorvel::platform
