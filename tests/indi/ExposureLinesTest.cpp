// The INDI driver's measure of the exposure from the line writes: where the exposure-state
// write moves no output (the serial default with Amp on), the camera's exposure, EXPTIME and
// DATE-OBS start at the earlier write that did.
#include "indi/ExposureLines.h"

#include "lines/CameraStates.h"
#include "lines/LineMonitor.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <cstdint>
#include <vector>

namespace lumenvale {
namespace {

struct Write {
    std::uint8_t state;
    std::int64_t us;
    bool moved;
};

struct Case {
    const char* name;
    std::vector<Write> frame; // from the frame start to the readout
    std::int64_t startUs;     // where the camera's exposure began
};

TEST(ExposureLinesTest, CountsFromTheWriteThatMovedTheCameraIntoTheExposure) {
    constexpr std::int64_t Readout = 2'010'000;
    const Case cases[] = {
        {"every write moves (parallel port, Amp off)",
         {{LinePulseStart, 0, true},
          {LineReadout, 1'000, true},
          {LineSettled, 101'000, true},
          {LineExposeAmpOn, 102'000, true},
          {LineExposeAmpOff, 103'000, true},
          {LineReadout, Readout, true}},
         103'000},
        {"the exposure state moves nothing (serial default, Amp on)",
         {{LinePulseStart, 0, true},
          {LineReadout, 1'000, true},
          {LineSettled, 101'000, true},
          {LineExposeAmpOn, 102'000, false},
          {LineExposeAmpOn, 103'000, false},
          {LineReadout, Readout, true}},
         101'000},
        {"the second settle state moved the lines last",
         {{LinePulseStart, 0, true},
          {LineReadout, 1'000, true},
          {LineSettled, 101'000, true},
          {LineExposeAmpOn, 102'000, true},
          {LineExposeAmpOn, 103'000, false},
          {LineReadout, Readout, true}},
         102'000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LineMonitor lines;
        ExposureLines exposure(lines);
        QDateTime before;
        QDateTime after;
        for (const Write& write : c.frame) {
            const bool exposureState = &write == &c.frame[4];
            if (exposureState) {
                before = QDateTime::currentDateTimeUtc();
            }
            lines.publish({0, write.state, write.us, write.moved, 0});
            if (exposureState) {
                after = QDateTime::currentDateTimeUtc();
            }
        }
        ASSERT_TRUE(exposure.seconds().has_value());
        EXPECT_DOUBLE_EQ(*exposure.seconds(), double(Readout - c.startUs) / 1e6);
        // DATE-OBS: the time of the exposure-state write less the time since the start.
        const qint64 earlierMs = (c.frame[4].us - c.startUs) / 1000;
        EXPECT_GE(exposure.startUtc(), before.addMSecs(-earlierMs - 1));
        EXPECT_LE(exposure.startUtc(), after.addMSecs(-earlierMs + 1));
    }
}

} // namespace
} // namespace lumenvale
