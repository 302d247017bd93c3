// The writer of one line of the error log.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// Appends date, time, label and message to the file numbered LogFileNumber,
// each field starting at the next print zone of 14 columns (counted in bytes
// of the system code page), the line ended by CR LF. Raises the error of the
// write when the file is not open.
void WriteErrorLog(std::u16string_view label, std::u16string_view message);

// The line WriteErrorLog writes, in the system code page.
std::string FormatLogLine(std::string_view date, std::string_view time, std::u16string_view label,
                          std::u16string_view message);

}  // namespace quorvel
