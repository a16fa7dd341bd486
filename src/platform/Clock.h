// The millisecond clock that exposures are timed with, and wrap-safe arithmetic on its ticks.
#pragma once

#include <cstdint>

namespace lumenvale {

// Ticks are milliseconds kept to 32 bits and read as signed, so they wrap past 2^31 and 2^32
// milliseconds (about 24.8 and 49.7 days of uptime). All comparisons go through the helpers
// below, which work modulo 2^32: an exposure running across either boundary ends on time.
inline std::int32_t TickAdd(std::int32_t tick, std::int32_t ms) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(tick) +
                                     static_cast<std::uint32_t>(ms));
}

// later - earlier, correct for any two ticks less than 2^31 ms apart.
inline std::int32_t TickDiff(std::int32_t later, std::int32_t earlier) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(later) -
                                     static_cast<std::uint32_t>(earlier));
}

// Whether `now` has reached `end`.
inline bool TickReached(std::int32_t now, std::int32_t end) {
    return TickDiff(now, end) >= 0;
}

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int32_t timeGetTime() const = 0;
    // Microseconds on CLOCK_MONOTONIC, the clock webcam drivers stamp their buffers with; a
    // test clock that only counts milliseconds gives those.
    virtual std::int64_t monotonicUs() const { return std::int64_t(timeGetTime()) * 1000; }
};

// CLOCK_MONOTONIC milliseconds. The offset lets a test start the clock just below a wrap.
class SystemClock : public Clock {
public:
    explicit SystemClock(std::int64_t offsetMs = 0) : offsetMs_(offsetMs) {}
    std::int32_t timeGetTime() const override;
    // Never offset: it is compared with the kernel's own timestamps.
    std::int64_t monotonicUs() const override;

private:
    std::int64_t offsetMs_;
};

} // namespace lumenvale
