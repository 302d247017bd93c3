// Starting a program the way the component's command lines are started.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel::platform {

// WinExec: starts `command_line` (system code page) with its window hidden
// and returns without waiting. Above 32 when the program started; otherwise
// 0 (out of resources), 2 (file not found), 3 (path not found) or 11 (bad
// format), WinExec's own codes.
std::uint32_t WinExec(std::string_view command_line);

}  // namespace quorvel::platform
