#include "platform/system_error.h"

namespace quorvel::platform {

FileStatus FileStatusOf(std::uint32_t error) {
    switch (error) {
        case kErrorSuccess: return FileStatus::kDone;
        case kErrorFileNotFound: return FileStatus::kFileNotFound;
        case kErrorPathNotFound:
        case kErrorBadNetPath:
        case kErrorInvalidDrive: return FileStatus::kPathNotFound;
        case kErrorAccessDenied:
        case kErrorSharingViolation:
        case kErrorLockViolation:
        case kErrorWriteProtect: return FileStatus::kAccessDenied;
        case kErrorDiskFull:
        case kErrorHandleDiskFull: return FileStatus::kDiskFull;
        case kErrorInvalidName:
        case kErrorBadPathName:
        case kErrorFilenameTooLong:
        case kErrorDirectory: return FileStatus::kBadName;
        default: return FileStatus::kFailed;
    }
}

}  // namespace quorvel::platform
