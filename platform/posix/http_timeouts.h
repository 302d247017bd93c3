// The POSIX names of the outside requests' time limits (platform/time_limits.h).
#pragma once

#include "platform/time_limits.h"

namespace quorvel::posix {

using HttpTimeouts = platform::TimeLimits;

inline HttpTimeouts CurrentHttpTimeouts() { return platform::CurrentTimeLimits(); }
inline HttpTimeouts SetHttpTimeouts(HttpTimeouts timeouts) { return platform::SetTimeLimits(timeouts); }

}  // namespace quorvel::posix
