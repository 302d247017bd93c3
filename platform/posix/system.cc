#include "platform/system.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/posix/machine.h"
#include "platform/posix/runtime/machine_folder.h"
#include "platform/system_error.h"
#include "platform/text.h"
#include "platform/utf8.h"

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

namespace quorvel::platform {

// The texts a Simplified Chinese Windows gives for the errors the stand-ins report.
std::string SystemErrorText(std::uint32_t error) {
    const char16_t* text = nullptr;
    switch (error) {
        case kErrorFileNotFound: text = u"系统找不到指定的文件。"; break;
        case kErrorPathNotFound: text = u"系统找不到指定的路径。"; break;
        case kErrorAccessDenied: text = u"拒绝访问。"; break;
        case kErrorNotEnoughMemory: text = u"存储空间不足，无法处理此命令。"; break;
        case kErrorBadFormat: text = u"试图加载格式不正确的程序。"; break;
        case kErrorNotSupported: text = u"不支持该请求。"; break;
        case kErrorPrivilegeNotHeld: text = u"客户端没有所需的特权。"; break;
        default: return ToAnsi(u"未知错误 (" + FromUtf8(std::to_string(error)) + u")");
    }
    return ToAnsi(text);
}

std::optional<std::string> EnvironmentVariable(std::string_view name) {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

void TerminateAbruptly() {
    ::kill(::getpid(), SIGKILL);
    ::_exit(137);
}

}  // namespace quorvel::platform
