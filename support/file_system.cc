#include "support/file_system.h"

#include "automation/step_error.h"
#include "platform/files.h"
#include "platform/text.h"

namespace quorvel {
namespace {

void RaiseFor(platform::FileStatus status) {
    using platform::FileStatus;
    switch (status) {
        case FileStatus::kDone: return;
        case FileStatus::kFileNotFound: Raise(kFileNotFound);
        case FileStatus::kPathNotFound: Raise(kPathNotFound);
        case FileStatus::kAccessDenied: Raise(kPermissionDenied);
        case FileStatus::kDiskFull: Raise(kDiskFull);
        case FileStatus::kBadName: Raise(kBadFileNumber);
        case FileStatus::kFailed: Raise(kDeviceIo);
    }
    Raise(kDeviceIo);
}

}  // namespace

bool FileExists(std::u16string_view path) { return platform::FileExists(platform::ToAnsi(path)); }

bool FolderExists(std::u16string_view path) { return platform::FolderExists(platform::ToAnsi(path)); }

void CopyFileOver(std::u16string_view from, std::u16string_view to) {
    RaiseFor(platform::CopyFileReplacing(platform::ToAnsi(from), platform::ToAnsi(to)));
}

void DeleteFileForced(std::u16string_view path) { RaiseFor(platform::DeleteFileForced(platform::ToAnsi(path))); }

FileHold::FileHold(std::u16string_view path) : lock_(platform::ToAnsi(path)) {
    if (!lock_.held()) Raise(kPermissionDenied);
}

}  // namespace quorvel
