#include "platform/process.h"

#include <windows.h>

#include <string>

namespace quorvel::platform {

std::uint32_t WinExec(std::string_view command_line) {
    const std::string line(command_line);
    return ::WinExec(line.c_str(), SW_HIDE);
}

}  // namespace quorvel::platform
