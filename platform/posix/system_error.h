// The POSIX side reports its failures as the Windows calls it stands in for
// would: by the system's error numbers (platform/system_error.h).
#pragma once

#include <cstdint>

namespace quorvel::posix {

// The error a Windows call would report where a POSIX call failed with
// `error` (an errno value). An error Windows has no closer number for is
// ERROR_NOT_ENOUGH_MEMORY, what starting a program reports when the system
// runs short, the usual cause of the rest.
std::uint32_t SystemErrorOf(int error);

}  // namespace quorvel::posix
