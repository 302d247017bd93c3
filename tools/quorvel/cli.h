// The `quorvel` script host: the commands and what they share.
#pragma once

#include <string>
#include <vector>

#include "platform/com.h"
#include "quorvel_interface.h"

namespace quorvel::cli {

// Exit statuses (sysexits.h values).
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 64;
inline constexpr int kExitUnavailable = 69;

using Args = std::vector<std::string>;

int RunRegsvr(const Args& args);
int RunCall(const Args& args);
int RunMethods(const Args& args);
int RunWebmail(const Args& args);
int RunAdsi(const Args& args);
int RunDoctor(const Args& args);
int RunVersion();

// The version a quorvel library file carries, empty when it carries none.
std::string LibraryVersion(const std::string& path);

// "0x80020005", as HRESULTs are written in messages.
std::string HexCode(HRESULT hr);

// "String", "Long" or "Boolean", as the interface listing writes them.
const char* TypeName(ParamType type);

// The library built or installed with this host.
std::string DefaultLibrary();

}  // namespace quorvel::cli
