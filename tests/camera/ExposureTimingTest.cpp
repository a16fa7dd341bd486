// The settle wait, the exposure wait and the readout timer: turn by turn on a hand-driven
// clock, and on the real event loop around a scripted acquisition dialog.
#include "camera/ExposureTiming.h"
#include "camera/CameraLines.h"
#include "camera/CaptureState.h"
#include "camera/LineStates.h"
#include "camera/ProgressDisplay.h"
#include "support/TestServices.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <limits>
#include <stdexcept>
#include <vector>

using namespace lumenvale;
using namespace lumenvale::test;
using States = std::vector<std::uint8_t>;

namespace {

constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t Int32Min = std::numeric_limits<std::int32_t>::min();

class RecordingProgress : public ProgressDisplay {
public:
    void setProgressMax(float max) override { maxima.push_back(max); }
    void setProgressValue(float value) override { values.push_back(value); }
    std::vector<float> maxima;
    std::vector<float> values;
};

// A clock that moves only when told, or that hands out scripted readings first.
class HandClock : public Clock {
public:
    std::int32_t timeGetTime() const override {
        if (!readings.empty()) {
            now = readings.front();
            readings.pop_front();
        }
        return now;
    }
    mutable std::int32_t now = 0;
    mutable std::deque<std::int32_t> readings;
};

// A message pump on the hand clock: blocking for events lets the whole timeout pass (no event
// comes), handling pending events lets a millisecond pass. `onTurn` stands for a handler that
// runs while events are handled.
class HandPump : public MessagePump {
public:
    explicit HandPump(HandClock& clock) : clock_(clock) {}
    void DoEvents() override {
        ++polls;
        clock_.now = TickAdd(clock_.now, 1);
        handle();
    }
    void waitForEvents(int timeoutMs) override {
        waits.push_back(timeoutMs);
        clock_.now = TickAdd(clock_.now, timeoutMs);
        handle();
    }
    std::function<void(int turn)> onTurn;
    std::vector<int> waits;
    int polls = 0;
    int turns() const { return polls + static_cast<int>(waits.size()); }

private:
    void handle() {
        if (onTurn) {
            onTurn(turns());
        }
    }
    HandClock& clock_;
};

// Everything the timing code reaches, on the hand clock and pump.
struct HandTimedTest : ::testing::Test {
    HandClock clock;
    HandPump pump{clock};
    LineMonitor monitor;
    RecordingPort port{monitor, clock};
    WindowTimers timers;
    FakeKeystrokes keys{false};
    RecordingMessages messages;
    FileSystemObject files;
    ScriptedAcquisition acquisition;
    Services services{clock, monitor, port, timers, keys, pump, messages, files, acquisition};
    CaptureState state;
    CameraLines lines{port, state, messages};
    ExposureTiming timing{state, services, lines};
    RecordingProgress progress;

    void startExposure(std::int32_t start, std::int32_t ms) {
        clock.now = start;
        state.ExposureStart = start;
        state.ExposureMs = ms;
    }
};

} // namespace

// ---- Exposure wait, turn by turn ----

struct ExposureCase {
    const char* name;
    std::int32_t start;
};

class ExposureWaitTest : public HandTimedTest,
                         public ::testing::WithParamInterface<ExposureCase> {};

TEST_P(ExposureWaitTest, EndsOnTimeBlockingPerTurnWithProgressRisingWithinTheBar) {
    startExposure(GetParam().start, 10'000);
    timing.WaitForExposure(progress);

    EXPECT_EQ(TickDiff(clock.now, GetParam().start), 10'000)
        << "not a millisecond late on a clock that moves only by waits";
    // Refreshes at 25 Hz: about 250 turns for 10 s, not a spin.
    EXPECT_GE(pump.turns(), 240);
    EXPECT_LE(pump.turns(), 260);
    for (int timeout : pump.waits) {
        EXPECT_GT(timeout, 0);
        EXPECT_LE(timeout, ExposureTiming::ProgressRefreshMs);
    }
    EXPECT_LE(pump.polls, ExposureTiming::FinalPollMs) << "only the last millisecond is polled";
    ASSERT_EQ(progress.values.size(), static_cast<std::size_t>(pump.turns()));
    EXPECT_EQ(progress.values.front(), 0.0F);
    float previous = -1;
    for (float v : progress.values) {
        EXPECT_GT(v, previous);
        EXPECT_LE(v, 10'000.0F);
        previous = v;
    }
}

// The clock is a signed 32-bit tick: the wait must end on time across both of its wraps.
INSTANTIATE_TEST_SUITE_P(ExposureTiming, ExposureWaitTest,
                         ::testing::Values(ExposureCase{"Positive", 5000},
                                           ExposureCase{"SignedWrap", Int32Max - 300},
                                           ExposureCase{"UnsignedWrap", -300}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HandTimedTest, ProgressNeverPassesTheLengthEvenWhenTheSecondReadingIsPastTheEnd) {
    startExposure(1000, 100);
    // First reading before the end, second one well past it.
    clock.readings = {1050, 1400};
    timing.WaitForExposure(progress);
    ASSERT_EQ(progress.values.size(), 1U);
    EXPECT_EQ(progress.values[0], 100.0F);
}

TEST_F(HandTimedTest, NoExposureReturnsOnTheFirstTurnWithoutTouchingTheProgress) {
    for (const std::int32_t ms : {0, -1, -5000, Int32Min}) {
        startExposure(123, ms);
        timing.WaitForExposure(progress);
        EXPECT_TRUE(progress.values.empty()) << ms;
        EXPECT_TRUE(progress.maxima.empty()) << ms;
        EXPECT_EQ(pump.turns(), 0) << ms;
        EXPECT_EQ(clock.now, 123) << ms;
    }
}

// A handler that runs while the wait handles events changes the shared state; the wait
// re-reads it on every turn and refreshes nothing after the turn that ended it.
struct HandlerCase {
    const char* name;
    std::int32_t length;
    int atTurn;
    std::function<void(CaptureState&, std::int32_t now)> change;
    std::int32_t endsAt;
    float lastAbove;
};

class HandlerDuringWaitTest : public HandTimedTest,
                              public ::testing::WithParamInterface<HandlerCase> {};

TEST_P(HandlerDuringWaitTest, ChangeTakesEffectOnTheNextTurn) {
    const HandlerCase& c = GetParam();
    startExposure(0, c.length);
    pump.onTurn = [&](int turn) {
        if (turn == c.atTurn) {
            c.change(state, clock.now);
        }
    };
    timing.WaitForExposure(progress);
    EXPECT_EQ(clock.now, c.endsAt);
    EXPECT_EQ(progress.values.size(), static_cast<std::size_t>(pump.turns()));
    EXPECT_GT(progress.values.back(), c.lastAbove);
    for (float v : progress.values) {
        EXPECT_GE(v, 0.0F) << "a start moved ahead leaves the bar at zero";
        EXPECT_LE(v, 500.0F);
    }
}

const HandlerCase HandlerCases[] = {
    // What Stop does: ends after the third turn; the bar stays where it was.
    {"StopSetsLengthZero", 60'000, 3, [](CaptureState& s, std::int32_t) { s.ExposureMs = 0; },
     3 * ExposureTiming::ProgressRefreshMs, 0},
    {"Lengthened", 100, 1, [](CaptureState& s, std::int32_t) { s.ExposureMs = 500; }, 500, 100},
    {"StartMovedAhead", 200, 1,
     [](CaptureState& s, std::int32_t now) { s.ExposureStart = TickAdd(now, 100); },
     ExposureTiming::ProgressRefreshMs + 100 + 200, 0},
};

INSTANTIATE_TEST_SUITE_P(ExposureTiming, HandlerDuringWaitTest, ::testing::ValuesIn(HandlerCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Settle wait ----

TEST_F(HandTimedTest, SettleWaitLastsOneHundredMillisecondsAcrossBothWraps) {
    for (std::int32_t t0 : {std::int32_t{777}, Int32Max - 30, std::int32_t{-30}}) {
        clock.now = t0;
        pump.polls = 0;
        timing.settleWait();
        EXPECT_EQ(TickDiff(clock.now, t0), SettleMs) << t0;
        EXPECT_LE(pump.polls, ExposureTiming::FinalPollMs) << t0;
    }
}

TEST_F(HandTimedTest, SettleWaitTestsTheClockBeforeHandlingAnyEvent) {
    clock.readings = {0, 100};
    timing.settleWait();
    EXPECT_EQ(pump.turns(), 0);
}

// ---- Readout timer callback ----

TEST_F(HandTimedTest, FirstTickWritesTheReadoutStateAndSendsReturnLaterTicksNothing) {
    const struct {
        std::int16_t readoutSelect;
        std::int16_t phaseBefore;
        std::uint8_t written;
    } cases[] = {{1, 0, LineReadout},
                 {0, 0, LineReadoutField1},
                 {1, 1, LineReadout},
                 {0, 1, LineReadoutField1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "select " << c.readoutSelect << " phase " << c.phaseBefore);
        monitor.clearHistory();
        keys.enters = 0;
        state.ReadoutSelect = c.readoutSelect;
        state.TimerPhase = c.phaseBefore;
        state.PortState = 0x30;
        for (int tick = 1; tick <= 5; ++tick) {
            timing.ReadoutTimerProc();
            EXPECT_EQ(state.TimerPhase, 2) << tick;
            EXPECT_EQ(monitor.states(), States{c.written}) << tick;
            EXPECT_EQ(state.PortState, c.written) << tick;
            EXPECT_EQ(keys.enters, 1) << tick;
        }
    }
}

// ---- On the real event loop ----

namespace {

struct LiveTimedTest : ::testing::Test {
    explicit LiveTimedTest(std::int64_t clockOffset = 0) : services(clockOffset) {}

    QTemporaryDir dir;
    TestServices services;
    CaptureState state;
    CameraLines lines{services.port, state, services.messages};
    ExposureTiming timing{state, services.services(), lines};
    RecordingProgress progress;
    QWidget window;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        services.acquisition.directory = dir.path().toStdString();
    }
};

// Real clock offset so that it reads just below a wrap boundary when the test starts.
std::int64_t OffsetToReach(std::int64_t target) {
    return target - SystemClock().timeGetTime();
}

} // namespace

TEST_F(LiveTimedTest, TicksWhileTheDialogIgnoresReturnWriteAndSendNothingMore) {
    auto step = ScriptedAcquisition::Confirm();
    // The dialog refuses the first Return, stays open for many 1 ms ticks, then confirms.
    step.whileOpen = [](QDialog& dialog) {
        auto* button = dialog.findChild<QPushButton*>(QStringLiteral("Acquire"));
        // Otherwise Cancel, taking the focus from the disabled button, becomes the default.
        dialog.findChild<QPushButton*>(QStringLiteral("Cancel"))->setAutoDefault(false);
        button->setEnabled(false);
        QTimer::singleShot(80, &dialog, [button] {
            button->setEnabled(true);
            button->click();
        });
    };
    services.acquisition.script.push_back(step);
    QElapsedTimer elapsed;
    elapsed.start();

    state.ReadoutSelect = 1;
    state.TimerPhase = 0;
    EXPECT_EQ(timing.acquireWithReadoutTimer(&window, BinnedTimerMs, "temp.bmp"), AcquireOk);

    EXPECT_GE(elapsed.elapsed(), 70) << "the dialog stayed open while the timer ticked on";
    EXPECT_EQ(services.lines.states(), States{LineReadout});
    EXPECT_EQ(services.keys.enters, 1);
    EXPECT_EQ(services.timers.activeCount(), 0U);
}

namespace {
class ThrowingAcquisition : public Acquisition {
public:
    std::int32_t TWAIN_AcquireToFilename(QWidget*, const std::string&) override {
        throw std::runtime_error("camera vanished");
    }
    std::int32_t TWAIN_SelectImageSource(QWidget*) override { return 0; }
};
} // namespace

TEST_F(LiveTimedTest, TimerDoesNotOutliveAnAcquisitionThatThrows) {
    ThrowingAcquisition throwing;
    Services s = services.services();
    Services withThrowing{s.clock, s.lines,    s.port,  s.timers, s.keys,
                          s.pump,  s.messages, s.files, throwing};
    ExposureTiming t(state, withThrowing, lines);
    EXPECT_THROW(t.acquireWithReadoutTimer(&window, 1, "temp.bmp"), std::runtime_error);
    EXPECT_EQ(services.timers.activeCount(), 0U);
}

struct LiveWrapTest : LiveTimedTest, ::testing::WithParamInterface<std::int64_t> {};

TEST_P(LiveWrapTest, ExposureAcrossTheBoundaryOfTheRealClockEndsOnTime) {
    // Aimed now rather than when the fixture was built: building its window can take longer
    // than the margin (under emulation, for one).
    services.clock = SystemClock(OffsetToReach(GetParam() - 150));
    state.ExposureStart = services.clock.timeGetTime();
    state.ExposureMs = 300;
    const std::int32_t end = TickAdd(state.ExposureStart, state.ExposureMs);
    // The exposure really straddles the boundary: the sign of the tick flips on the way.
    ASSERT_NE(state.ExposureStart < 0, end < 0);
    QElapsedTimer elapsed;
    elapsed.start();

    timing.WaitForExposure(progress);

    const std::int32_t now = services.clock.timeGetTime();
    EXPECT_GE(TickDiff(now, state.ExposureStart), 300);
    EXPECT_GE(elapsed.elapsed(), 290);
    EXPECT_LT(elapsed.elapsed(), 5000) << "a wrapped deadline must not look years away";
    for (float v : progress.values) {
        EXPECT_GE(v, 0.0F);
        EXPECT_LE(v, 300.0F);
    }
}

INSTANTIATE_TEST_SUITE_P(ExposureTiming, LiveWrapTest,
                         ::testing::Values(std::int64_t{1} << 31, std::int64_t{1} << 32),
                         [](const auto& info) {
                             return info.param == std::int64_t{1} << 31 ? "Signed" : "Unsigned";
                         });
