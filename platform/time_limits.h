// How long a request to an outside server may take, in both builds: the
// connection within 15 seconds and the whole exchange (HTTP request, SMTP
// dialogue) within 60, so that a silent or slow server cannot hold a call
// for longer. Tests shorten them.
#pragma once

#include <chrono>

namespace quorvel::platform {

struct TimeLimits {
    std::chrono::milliseconds connect{15000};
    std::chrono::milliseconds total{60000};
};

TimeLimits CurrentTimeLimits();
// For the whole process; returns the previous ones.
TimeLimits SetTimeLimits(TimeLimits limits);

}  // namespace quorvel::platform
