// The INDI driver's measure of the exposure from the line writes: where the exposure-state
// write moves no output (the serial default with Amp on), the camera's exposure, EXPTIME and
// DATE-OBS start at the earlier write that did.
#include "indi/ExposureLines.h"

#include "lines/CameraStates.h"
#include "lines/LineMonitor.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <cstdint>

namespace lumenvale {
namespace {

// One frame's writes, from the frame start to the readout; the rows differ only in the
// exposure state and in which of the settle and exposure writes moved an output.
struct Case {
    const char* name;
    std::uint8_t exposureState;
    bool settleMoved;     // the second settle state, 0x34
    bool exposureMoved;   // the exposure state
    std::int64_t startUs; // where the camera's exposure began
};

TEST(ExposureLinesTest, CountsFromTheWriteThatMovedTheCameraIntoTheExposure) {
    constexpr std::int64_t SettledUs = 101'000;
    constexpr std::int64_t SettleUs = 102'000;
    constexpr std::int64_t ExposureUs = 103'000;
    constexpr std::int64_t ReadoutUs = 2'010'000;
    const Case cases[] = {
        {"every write moves (parallel port, Amp off)", LineExposeAmpOff, true, true, ExposureUs},
        {"the exposure state moves nothing (serial default, Amp on)", LineExposeAmpOn, false, false,
         SettledUs},
        {"the second settle state moved the lines last", LineExposeAmpOn, true, false, SettleUs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LineMonitor lines;
        ExposureLines exposure(lines);
        lines.publish({0, LinePulseStart, 0, true, 0});
        lines.publish({0, LineReadout, 1'000, true, 0});
        lines.publish({0, LineSettled, SettledUs, true, 0});
        lines.publish({0, LineExposeAmpOn, SettleUs, c.settleMoved, 0});
        const QDateTime before = QDateTime::currentDateTimeUtc();
        lines.publish({0, c.exposureState, ExposureUs, c.exposureMoved, 0});
        const QDateTime after = QDateTime::currentDateTimeUtc();
        lines.publish({0, LineReadout, ReadoutUs, true, 0});

        ASSERT_TRUE(exposure.seconds().has_value());
        EXPECT_DOUBLE_EQ(*exposure.seconds(), double(ReadoutUs - c.startUs) / 1e6);
        // DATE-OBS: the time of the exposure-state write less the time since the start.
        const qint64 earlierMs = (ExposureUs - c.startUs) / 1000;
        EXPECT_GE(exposure.startUtc(), before.addMSecs(-earlierMs - 1));
        EXPECT_LE(exposure.startUtc(), after.addMSecs(-earlierMs + 1));
    }
}

} // namespace
} // namespace lumenvale
