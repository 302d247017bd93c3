// The WinNT directory provider of the stand-in library: GetObject("WinNT://NAME")
// binds the computer container, "WinNT://NAME/alice[,user]" a user,
// "WinNT://NAME/Users[,group]" a group. NAME is the machine's computer name
// (or localhost), in any letter case.
#pragma once

#include <string_view>

#include "automation/automation.h"

namespace quorvel::winnt {

automation::ComPtr<IDispatch> BindWinNT(std::u16string_view display_name);

}  // namespace quorvel::winnt
