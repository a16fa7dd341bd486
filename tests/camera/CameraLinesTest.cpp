// Port access and the line-state writes as the line monitor sees them.
#include "camera/CameraLines.h"
#include "camera/CaptureState.h"
#include "camera/LineStates.h"
#include "support/RecordingMessages.h"
#include "support/RecordingPort.h"

#include "lines/LineMonitor.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace lumenvale;
using namespace lumenvale::test;
using States = std::vector<std::uint8_t>;
using Log = std::vector<std::string>;

namespace {

struct Wiring {
    SystemClock clock;
    LineMonitor monitor;
    RecordingPort port{monitor, clock};
    CaptureState state;
    RecordingMessages messages;
    CameraLines lines{port, state, messages};
};

struct CameraLinesTest : ::testing::Test, Wiring {};

struct OpeningCase {
    int initFailures;
    const char* reason;
    Log calls;
    QStringList message;
};

class PortOpeningTest : public CameraLinesTest,
                        public ::testing::WithParamInterface<OpeningCase> {};

TEST_P(PortOpeningTest, TriesTwiceWarnsOnceAndWritesInAnyCase) {
    const auto& c = GetParam();
    port.initFailures = c.initFailures;
    port.failureReason = c.reason;
    state.PortState = 0x37;

    lines.openPortAccess();

    EXPECT_EQ(port.log, c.calls);
    EXPECT_EQ(state.PortState, 0);
    EXPECT_EQ(messages.texts, c.message);
    // Later writes are made and seen whether or not the port opened.
    lines.writePulse();
    EXPECT_EQ(monitor.states(), (States{LineIdle, 0x27, 0x37}));
    EXPECT_EQ(port.writes.back().open, c.message.isEmpty());
}

const char* const NoGroup = "Permission denied on /dev/parport0: add yourself to the lp group.";
const Log Retried = {"init 0", "shutdown 1", "init 0", "write 0x00"};

INSTANTIATE_TEST_SUITE_P(
    CameraLines, PortOpeningTest,
    ::testing::Values(
        OpeningCase{0, NoGroup, {"init 1", "write 0x00"}, {}},
        OpeningCase{1, NoGroup, {"init 0", "shutdown 1", "init 1", "write 0x00"}, {}},
        OpeningCase{2, NoGroup, Retried, {QStringLiteral("not initialised\n") + NoGroup}},
        // A port that never opens is still tried only twice; without a reason, the bare words.
        OpeningCase{5, "", Retried, {QStringLiteral("not initialised")}}),
    [](const auto& info) { return "InitFails" + std::to_string(info.param.initFailures); });

struct ClosingCase {
    int shutdownFailures;
    Log calls;
};

class PortClosingTest : public CameraLinesTest,
                        public ::testing::WithParamInterface<ClosingCase> {};

TEST_P(PortClosingTest, ShutsDownOnceMoreOnlyAfterAFailureAndLeavesTheLines) {
    lines.openPortAccess();
    lines.writePulse();
    port.log.clear();
    port.shutdownFailures = GetParam().shutdownFailures;

    lines.closePortAccess();

    EXPECT_EQ(port.log, GetParam().calls);
    EXPECT_EQ(monitor.states(), (States{0x00, 0x27, 0x37})) << "closing writes nothing";
}

INSTANTIATE_TEST_SUITE_P(CameraLines, PortClosingTest,
                         ::testing::Values(ClosingCase{0, {"shutdown 1"}},
                                           ClosingCase{1, {"shutdown 0", "shutdown 1"}},
                                           ClosingCase{2, {"shutdown 0", "shutdown 0"}}),
                         [](const auto& info) {
                             return "ShutdownFails" + std::to_string(info.param.shutdownFailures);
                         });

TEST(CameraLinesTest, FrameStartWritesEveryStateBackToBackAndAmpOffOnlyForExactlyOne) {
    // Check4 clear (or anything but 1): 0x34 twice in a row, both written.
    for (const auto& [check4, exposure] :
         {std::pair<std::int16_t, std::uint8_t>{1, 0x30}, {0, 0x34}, {2, 0x34}, {-1, 0x34}}) {
        SCOPED_TRACE(check4);
        Wiring t;
        t.state.PortState = 0x35;
        t.lines.writePulse();
        t.lines.writeSettled();
        EXPECT_EQ(t.state.PortState, 0x35) << "pulse and settled states bypass PortState";
        t.lines.writeExposureState(check4);
        EXPECT_EQ(t.state.PortState, exposure);
        EXPECT_EQ(t.monitor.states(), (States{0x27, 0x37, 0x14, 0x34, exposure}));
        for (const auto& w : t.port.writes) {
            EXPECT_EQ(w.port, CameraPort);
            EXPECT_EQ(w.size, 1);
        }
    }
}

} // namespace
