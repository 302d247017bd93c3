#include "platform/system.h"

#include <windows.h>

namespace quorvel::platform {

bool GetComputerName(std::string& name) {
    char buffer[256] = {};
    DWORD size = sizeof(buffer);
    if (!GetComputerNameA(buffer, &size)) return false;
    name.assign(buffer, size);
    return true;
}

DateTimeText NowText() {
    // One reading of the clock for both, so that a line written at midnight
    // does not pair one day's date with the next day's time.
    SYSTEMTIME now{};
    GetLocalTime(&now);
    DateTimeText text;
    char buffer[128] = {};
    int length = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, buffer, sizeof(buffer));
    if (length > 0) text.date.assign(buffer, static_cast<size_t>(length - 1));
    length = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &now, nullptr, buffer, sizeof(buffer));
    if (length > 0) text.time.assign(buffer, static_cast<size_t>(length - 1));
    return text;
}

}  // namespace quorvel::platform

namespace quorvel::platform {

std::string SystemErrorText(std::uint32_t error) {
    char* buffer = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string text;
    if (buffer != nullptr) {
        text.assign(buffer, length);
        LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

std::optional<std::string> EnvironmentVariable(std::string_view name) {
    const std::string key(name);
    SetLastError(ERROR_SUCCESS);
    const DWORD size = GetEnvironmentVariableA(key.c_str(), nullptr, 0);
    if (size == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    std::string value(size, '\0');
    const DWORD length = GetEnvironmentVariableA(key.c_str(), value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

void TerminateAbruptly() {
    TerminateProcess(GetCurrentProcess(), 137);
    ExitProcess(137);
}

}  // namespace quorvel::platform
