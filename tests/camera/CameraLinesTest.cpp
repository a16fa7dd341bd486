// Port access and the line-state writes as the line monitor sees them.
#include "camera/CameraLines.h"
#include "camera/CaptureState.h"
#include "camera/LineStates.h"
#include "support/RecordingMessages.h"
#include "support/RecordingPort.h"

#include "platform/Clock.h"
#include "platform/LineMonitor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace lumenvale;
using namespace lumenvale::test;
using States = std::vector<std::uint8_t>;
using Log = std::vector<std::string>;

namespace {

struct CameraLinesTest : ::testing::Test {
    SystemClock clock;
    LineMonitor monitor;
    RecordingPort port{monitor, clock};
    CaptureState state;
    RecordingMessages messages;
    CameraLines lines{port, state, messages};
};

} // namespace

struct OpeningCase {
    int initFailures;
    Log calls;
    bool message;
};

class PortOpening : public CameraLinesTest, public ::testing::WithParamInterface<OpeningCase> {};

TEST_P(PortOpening, TriesTwiceWarnsOnceAndWritesIdleInAnyCase) {
    const auto& c = GetParam();
    port.initFailures = c.initFailures;
    port.failureReason = "Permission denied on /dev/parport0: add yourself to the lp group.";
    state.PortState = 0x37;

    lines.OpenPortAccess();

    EXPECT_EQ(port.log, c.calls);
    EXPECT_EQ(state.PortState, 0);
    EXPECT_EQ(monitor.states(), States{LineIdle});
    ASSERT_EQ(port.writes.size(), 1U);
    EXPECT_EQ(port.writes[0].port, CameraPort);
    EXPECT_EQ(port.writes[0].size, 1);
    if (c.message) {
        ASSERT_EQ(messages.texts.size(), 1);
        EXPECT_EQ(messages.texts[0], "not initialised\nPermission denied on /dev/parport0: add "
                                     "yourself to the lp group.");
    } else {
        EXPECT_TRUE(messages.texts.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    CameraLines, PortOpening,
    ::testing::Values(OpeningCase{0, {"init 1", "write 0x00"}, false},
                      OpeningCase{1, {"init 0", "shutdown 1", "init 1", "write 0x00"}, false},
                      OpeningCase{2, {"init 0", "shutdown 1", "init 0", "write 0x00"}, true},
                      // A port that never opens is still tried only twice.
                      OpeningCase{5, {"init 0", "shutdown 1", "init 0", "write 0x00"}, true}),
    [](const auto& info) { return "InitFails" + std::to_string(info.param.initFailures); });

TEST_F(CameraLinesTest, NotInitialisedAloneWhenThePortGivesNoReason) {
    port.initFailures = 2;
    port.failureReason.clear();
    lines.OpenPortAccess();
    EXPECT_EQ(messages.texts, QStringList{"not initialised"});
}

TEST_F(CameraLinesTest, WritesAfterAFailedOpeningAreStillMadeAndSeen) {
    port.initFailures = 2;
    lines.OpenPortAccess();
    lines.WritePulse();
    EXPECT_EQ(monitor.states(), (States{0x00, 0x27, 0x37}));
    EXPECT_FALSE(port.writes.back().open);
}

struct ClosingCase {
    int shutdownFailures;
    Log calls;
};

class PortClosing : public CameraLinesTest, public ::testing::WithParamInterface<ClosingCase> {};

TEST_P(PortClosing, ShutsDownOnceMoreOnlyAfterAFailureAndLeavesTheLines) {
    lines.OpenPortAccess();
    lines.WritePulse();
    port.log.clear();
    port.shutdownFailures = GetParam().shutdownFailures;

    lines.ClosePortAccess();

    EXPECT_EQ(port.log, GetParam().calls);
    EXPECT_EQ(monitor.states(), (States{0x00, 0x27, 0x37})) << "closing writes nothing";
}

INSTANTIATE_TEST_SUITE_P(CameraLines, PortClosing,
                         ::testing::Values(ClosingCase{0, {"shutdown 1"}},
                                           ClosingCase{1, {"shutdown 0", "shutdown 1"}},
                                           ClosingCase{2, {"shutdown 0", "shutdown 0"}}),
                         [](const auto& info) {
                             return "ShutdownFails" + std::to_string(info.param.shutdownFailures);
                         });

TEST_F(CameraLinesTest, FrameStartPiecesWriteTheirStatesBackToBack) {
    state.PortState = 0x35;
    lines.WritePulse();
    EXPECT_EQ(state.PortState, 0x35) << "the pulse does not pass through PortState";
    lines.WriteSettled();
    EXPECT_EQ(state.PortState, 0x35) << "nor do the settled states";
    EXPECT_EQ(monitor.states(), (States{0x27, 0x37, 0x14, 0x34}));
    for (const auto& w : port.writes) {
        EXPECT_EQ(w.port, CameraPort);
        EXPECT_EQ(w.size, 1);
    }
}

struct ExposureCase {
    std::int16_t ampOff;
    std::uint8_t expected;
};

class ExposureState : public CameraLinesTest, public ::testing::WithParamInterface<ExposureCase> {};

TEST_P(ExposureState, AmpOffOnlyWhenTheBoxHoldsExactlyOne) {
    lines.WriteSettled();
    lines.WriteExposureState(GetParam().ampOff);
    EXPECT_EQ(state.PortState, GetParam().expected);
    EXPECT_EQ(monitor.states(), (States{0x14, 0x34, GetParam().expected}));
}

INSTANTIATE_TEST_SUITE_P(CameraLines, ExposureState,
                         ::testing::Values(ExposureCase{1, LineExposeAmpOff},
                                           // Clear: 0x34 twice in a row, both written.
                                           ExposureCase{0, LineExposeAmpOn},
                                           ExposureCase{2, LineExposeAmpOn},
                                           ExposureCase{-1, LineExposeAmpOn}),
                         [](const auto& info) {
                             const int v = info.param.ampOff;
                             return "Check4Is" +
                                    (v < 0 ? "Minus" + std::to_string(-v) : std::to_string(v));
                         });

TEST_F(CameraLinesTest, EachWriteCarriesTheClockTick) {
    const std::int32_t before = clock.timeGetTime();
    lines.WritePortState(0x37);
    const std::int32_t after = clock.timeGetTime();
    ASSERT_EQ(monitor.history().size(), 1U);
    EXPECT_GE(TickDiff(monitor.history()[0].tick, before), 0);
    EXPECT_GE(TickDiff(after, monitor.history()[0].tick), 0);
}
