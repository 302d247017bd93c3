#include "component/frame/log_writer.h"

#include "component/frame/error_log.h"
#include "platform/system.h"
#include "platform/text.h"

namespace quorvel {
namespace {

constexpr size_t kPrintZone = 14;

// A comma of Print #: on to the start of the next print zone.
void NextZone(std::string& line) { line.append(kPrintZone - line.size() % kPrintZone, ' '); }

}  // namespace

std::string FormatLogLine(std::string_view date, std::string_view time, std::u16string_view label,
                          std::u16string_view message) {
    std::string line(date);
    NextZone(line);
    line += time;
    NextZone(line);
    line += platform::ToAnsi(label);
    NextZone(line);
    line += platform::ToAnsi(message);
    line += "\r\n";
    return line;
}

void WriteErrorLog(std::u16string_view label, std::u16string_view message) {
    const platform::DateTimeText now = platform::NowText();
    files::Print(LogFileNumber, FormatLogLine(now.date, now.time, label, message));
}

}  // namespace quorvel
