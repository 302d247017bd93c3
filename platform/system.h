// Facts about the machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// The value of one of this process's environment variables; nullopt when
// it is not set.
std::optional<std::string> EnvironmentVariable(std::string_view name);

// The calling process's id.
std::uint32_t ProcessId();

// The account the calling thread runs under: DOMAIN\name on Windows (the
// thread's own token when it impersonates a client, else the process's), the
// user name on POSIX; empty when it cannot be told.
std::u16string AccountName();

// Ends this process at once, as a kill would: no destructor runs, nothing is
// flushed.
[[noreturn]] void TerminateAbruptly();

}  // namespace quorvel::platform
