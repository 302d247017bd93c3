#include "platform/system.h"

#include <windows.h>

#include "platform/win32/handles.h"

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

std::uint32_t ProcessId() { return GetCurrentProcessId(); }

namespace {

// The user of a token as DOMAIN\name; the last one looked up is kept, since
// an account's SID seldom changes between calls of a thread.
std::u16string TokenAccount(HANDLE token) {
    // Room for any SID: one question, not one for the size and one for the bytes.
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) return {};
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
    const DWORD sid_size = GetLengthSid(sid);
    thread_local std::string known_sid;
    thread_local std::u16string known_name;
    const std::string sid_bytes(static_cast<const char*>(sid), sid_size);
    if (sid_bytes == known_sid) return known_name;
    wchar_t name[256];
    wchar_t domain[256];
    DWORD name_size = 256;
    DWORD domain_size = 256;
    SID_NAME_USE use{};
    if (!LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) return {};
    std::u16string account(reinterpret_cast<const char16_t*>(domain), domain_size);
    if (!account.empty()) account += u'\\';
    account.append(reinterpret_cast<const char16_t*>(name), name_size);
    known_sid = sid_bytes;
    known_name = account;
    return account;
}

}  // namespace

std::u16string AccountName() {
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token))  // impersonating
        return TokenAccount(win32::Handle(token).get());
    // A process's own user stays the same for its life: asked once a thread.
    thread_local std::u16string process_account;
    if (process_account.empty() && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        process_account = TokenAccount(win32::Handle(token).get());
    return process_account;
}

void TerminateAbruptly() {
    TerminateProcess(GetCurrentProcess(), 137);
    ExitProcess(137);
}

}  // namespace quorvel::platform
