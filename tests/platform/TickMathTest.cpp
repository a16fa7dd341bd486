// Tick arithmetic across the 2^31 and 2^32 millisecond boundaries.
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using namespace lumenvale;

TEST(TickMathTest, DeadlineAcrossTheSignedWrapIsReachedOnTime) {
    const std::int32_t start = std::numeric_limits<std::int32_t>::max() - 10;
    const std::int32_t end = TickAdd(start, 100);
    EXPECT_LT(end, 0); // wrapped to negative
    EXPECT_FALSE(TickReached(TickAdd(start, 99), end));
    EXPECT_TRUE(TickReached(TickAdd(start, 100), end));
    EXPECT_EQ(TickDiff(TickAdd(start, 42), start), 42);
}

TEST(TickMathTest, DeadlineAcrossTheUnsignedWrapIsReachedOnTime) {
    const std::int32_t start = -5; // 2^32 - 5 as an unsigned tick
    const std::int32_t end = TickAdd(start, 10);
    EXPECT_EQ(end, 5);
    EXPECT_FALSE(TickReached(4, end));
    EXPECT_TRUE(TickReached(5, end));
    EXPECT_TRUE(TickReached(start, start));
}
