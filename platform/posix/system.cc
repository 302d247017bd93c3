#include "platform/system.h"

#include <cstdio>
#include <ctime>
#include <string>

#include "platform/posix/machine.h"
#include "platform/posix/runtime/machine_folder.h"

namespace quorvel::platform {

bool GetComputerName(std::string& name) {
    // A key that is present but empty means the name is not available.
    const auto value = posix::MachineSetting("Machine", "ComputerName");
    if (!value) {
        name = posix::DefaultComputerName();
        return true;
    }
    if (value->empty()) return false;
    name = *value;
    return true;
}

// The default formats of a Simplified Chinese system: short date yyyy/M/d,
// time H:mm:ss (what Windows writes for that locale).
DateTimeText NowText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char date[32];
    char time[32];
    std::snprintf(date, sizeof date, "%d/%d/%d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    std::snprintf(time, sizeof time, "%d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return {date, time};
}

}  // namespace quorvel::platform
