// The system's error numbers, Win32's: what the Windows side gets from the
// system and the POSIX side reports in their place (an errno becomes one in
// platform/posix/system_error.h), named for the code of both sides that
// reads them without <windows.h>.
#pragma once

#include <cstdint>

#include "platform/files.h"

namespace quorvel::platform {

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorBadFormat = 11;
inline constexpr std::uint32_t kErrorInvalidDrive = 15;
inline constexpr std::uint32_t kErrorWriteProtect = 19;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorLockViolation = 33;
inline constexpr std::uint32_t kErrorHandleDiskFull = 39;
inline constexpr std::uint32_t kErrorNotSupported = 50;
inline constexpr std::uint32_t kErrorBadNetPath = 53;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorBadPathName = 161;
inline constexpr std::uint32_t kErrorFilenameTooLong = 206;
inline constexpr std::uint32_t kErrorDirectory = 267;
inline constexpr std::uint32_t kErrorPrivilegeNotHeld = 1314;

// The file, or a folder of its path, is not there.
constexpr bool IsNotFound(std::uint32_t error) { return error == kErrorFileNotFound || error == kErrorPathNotFound; }

// Why a file operation that failed with the error failed.
FileStatus FileStatusOf(std::uint32_t error);

}  // namespace quorvel::platform
