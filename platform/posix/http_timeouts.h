// The time-outs of the POSIX HTTP requests: connecting within 15 seconds and
// the whole request within 60, so that a silent server cannot hold a call
// forever. Tests shorten them.
#pragma once

#include <chrono>

namespace quorvel::posix {

struct HttpTimeouts {
    std::chrono::milliseconds connect{15000};
    std::chrono::milliseconds total{60000};
};

HttpTimeouts CurrentHttpTimeouts();
// For the whole process; returns the previous ones.
HttpTimeouts SetHttpTimeouts(HttpTimeouts timeouts);

}  // namespace quorvel::posix
