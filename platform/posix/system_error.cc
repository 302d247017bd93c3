#include "platform/posix/system_error.h"

#include <cerrno>

#include "platform/system_error.h"

namespace quorvel::posix {

std::uint32_t SystemErrorOf(int error) {
    switch (error) {
        case 0: return platform::kErrorSuccess;
        case ENOENT: return platform::kErrorFileNotFound;
        case ENOTDIR: return platform::kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR: return platform::kErrorAccessDenied;  // as Windows refuses to open a folder as a file
        case EROFS: return platform::kErrorWriteProtect;
        case EBUSY:
        case ETXTBSY: return platform::kErrorSharingViolation;
        case ENOSPC:
        case EDQUOT: return platform::kErrorDiskFull;
        case ENAMETOOLONG: return platform::kErrorFilenameTooLong;
        case EINVAL:  // from the file calls: a name the file system refuses
        case EILSEQ: return platform::kErrorInvalidName;
        case ENOEXEC: return platform::kErrorBadFormat;
        default: return platform::kErrorNotEnoughMemory;
    }
}

}  // namespace quorvel::posix
