// Local Windows accounts and their membership of a local group, through the
// directory's WinNT provider.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel::accounts {

// One account action (ADDUSER, EDITUSER, DELUSER, STOPUSER, STARTUSER,
// ADDUSERTOGROUP, EDITUSERTOGROUP, DELUSERTOGROUP). 0 done, 1 no computer
// name, 2 the account exists, 3 the account (or group) does not, 4 a step failed.
std::int32_t PostNTUser(std::u16string Action, std::u16string FullName, std::u16string UserName,
                        std::u16string PassWord, std::u16string Groups);

}  // namespace quorvel::accounts
