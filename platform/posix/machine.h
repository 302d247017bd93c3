// Settings of the machine folder's machine.ini.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::posix {

// The value of a key of machine.ini; nullopt when the key is absent (an
// empty value is present).
std::optional<std::string> MachineSetting(std::string_view section, std::string_view key);

// The Windows code page number of the machine's ANSI code page (936 by default).
int MachineCodePage();

// The iconv name of a Windows code page number ("CP936" -> "GBK" etc).
std::string IconvNameOfCodePage(int code_page);

// The folder a drive letter maps to.
std::filesystem::path DriveFolder(char letter);

}  // namespace quorvel::posix
