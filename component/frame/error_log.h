// The error log DllErr.log and the numbered files it is written through.
// File numbers, like every module variable, are one set per thread (per
// apartment): calls on different threads never share an open file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

// The number of the log that the running method has open.
extern thread_local std::int32_t LogFileNumber;

namespace files {

// The lowest free file number from 1 to 255; raises error 67 when none is.
std::int32_t FreeFile();
// Opens (creates when missing) a text file for appending under `number`.
void OpenForAppend(std::int32_t number, std::u16string_view path);
// Writes one line, given in the system code page with its line end; raises
// error 52 when `number` is not open.
void Print(std::int32_t number, std::string_view bytes);
void Close(std::int32_t number);

}  // namespace files

// DllErr.log in the folder of the component's logs (platform::LogFolder).
std::u16string ErrorLogPath();

}  // namespace quorvel
