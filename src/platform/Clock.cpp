// The monotonic millisecond clock.
#include "platform/Clock.h"

#include <ctime>

namespace lumenvale {

std::int32_t SystemClock::timeGetTime() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::int64_t ms = static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms + offsetMs_));
}

std::int64_t SystemClock::monotonicUs() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

} // namespace lumenvale
