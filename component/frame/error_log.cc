#include "component/frame/error_log.h"

#include <array>
#include <memory>

#include "automation/step_error.h"
#include "platform/files.h"
#include "platform/text.h"

namespace quorvel {

thread_local std::int32_t LogFileNumber = 0;

namespace files {
namespace {

constexpr std::int32_t kMaxFileNumber = 255;

using FileTable = std::array<std::unique_ptr<platform::AppendFile>, kMaxFileNumber + 1>;

FileTable& Table() {
    thread_local FileTable table;
    return table;
}

platform::AppendFile* Slot(std::int32_t number) {
    if (number < 1 || number > kMaxFileNumber) return nullptr;
    return Table()[static_cast<size_t>(number)].get();
}

}  // namespace

std::int32_t FreeFile() {
    for (std::int32_t n = 1; n <= kMaxFileNumber; ++n)
        if (Slot(n) == nullptr) return n;
    Raise(kTooManyFiles);
}

void OpenForAppend(std::int32_t number, std::u16string_view path) {
    if (number < 1 || number > kMaxFileNumber || Slot(number) != nullptr) Raise(kBadFileNumber);
    auto file = std::make_unique<platform::AppendFile>();
    if (!file->Open(platform::ToAnsi(path))) Raise(kPathFileAccess);
    Table()[static_cast<size_t>(number)] = std::move(file);
}

void Print(std::int32_t number, std::string_view bytes) {
    platform::AppendFile* file = Slot(number);
    if (file == nullptr) Raise(kBadFileNumber);
    if (!file->Write(bytes)) Raise(kPathFileAccess);
}

void Close(std::int32_t number) {
    if (number >= 1 && number <= kMaxFileNumber) Table()[static_cast<size_t>(number)].reset();
}

}  // namespace files

std::u16string ErrorLogPath() { return platform::FromAnsi(platform::LogFolder()) + u"\\DllErr.log"; }

}  // namespace quorvel
