// The Video window's figures: the camera's frame rate from its own times, and the levels of
// the part of the picture recorded.
#include "video/VideoMonitor.h"

#include <gtest/gtest.h>

using namespace lumenvale;

TEST(VideoMonitorTest, RateFromTheCamerasTimesAndLevelsFromTheRegion) {
    AcquiredFrame dark;
    std::fill(dark.storedRow(0), dark.storedRow(0) + AcquiredFrame::PixelBytes, 16);
    VideoMonitor monitor;
    EXPECT_EQ(monitor.framesPerSecond(), 0);
    for (int i = 0; i < 50; ++i) { // 2 s at 25 frames a second
        monitor.add(dark, 5'000'000 + i * 40'000, {0, 0, 640, 480});
    }
    EXPECT_DOUBLE_EQ(monitor.framesPerSecond(), 25);
    monitor.add(dark, 1'000, {0, 0, 640, 480});
    EXPECT_EQ(monitor.framesPerSecond(), 0) << "the stream started again";

    // One red value of 240 at (10, 10) from the top left; the frame holds the bottom line first.
    AcquiredFrame star = dark;
    star.storedRow(AcquiredFrame::Height - 1 - 10)[10 * 3 + 2] = 240;
    struct Case {
        QRect region;
        int peak;
    };
    const Case cases[] = {{{0, 0, 160, 120}, 240}, {{0, 360, 160, 120}, 16}};
    for (const Case& c : cases) {
        monitor.add(star, 2'000, c.region);
        EXPECT_EQ(monitor.peak(), c.peak);
        EXPECT_EQ(monitor.histogram()[240], c.peak == 240 ? 1 : 0);
        EXPECT_EQ(monitor.histogram()[16], 160 * 120 * 3 - (c.peak == 240 ? 1 : 0));
    }
}
