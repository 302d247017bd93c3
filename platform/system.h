// Facts about the machine.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel::platform {

// GetComputerNameA: the NetBIOS name; false when it is not available.
bool GetComputerName(std::string& name);

// The current local date and time, each in the system's default format
// (short date; time), in the system code page.
struct DateTimeText {
    std::string date;
    std::string time;
};
DateTimeText NowText();

// FormatMessage's text for a system error number, in the system code page,
// without the line break it ends with.
std::string SystemErrorText(std::uint32_t error);

}  // namespace quorvel::platform
