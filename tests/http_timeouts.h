// The outside requests' time limits (platform/time_limits.h) under the names
// the supervision tests use.
#pragma once

#include "platform/time_limits.h"

namespace quorvel::test {

using HttpTimeouts = platform::TimeLimits;

inline HttpTimeouts CurrentHttpTimeouts() { return platform::CurrentTimeLimits(); }
inline HttpTimeouts SetHttpTimeouts(HttpTimeouts timeouts) { return platform::SetTimeLimits(timeouts); }

}  // namespace quorvel::test
