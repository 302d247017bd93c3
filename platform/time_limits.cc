#include "platform/time_limits.h"

#include <atomic>
#include <cstdint>

namespace quorvel::platform {
namespace {

// Atomics rather than a mutex: the Windows toolchain's thread model has none.
std::atomic<std::int64_t> connect_ms{TimeLimits{}.connect.count()};
std::atomic<std::int64_t> total_ms{TimeLimits{}.total.count()};

}  // namespace

TimeLimits CurrentTimeLimits() {
    return {std::chrono::milliseconds(connect_ms.load()), std::chrono::milliseconds(total_ms.load())};
}

TimeLimits SetTimeLimits(TimeLimits limits) {
    const TimeLimits previous = CurrentTimeLimits();
    connect_ms.store(limits.connect.count());
    total_ms.store(limits.total.count());
    return previous;
}

}  // namespace quorvel::platform
