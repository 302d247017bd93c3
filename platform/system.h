// Facts about the machine.
#pragma once

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

}  // namespace quorvel::platform
