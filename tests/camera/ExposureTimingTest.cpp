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

#include <chrono>
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
        ++reads;
        return now;
    }
    mutable std::int32_t now = 0;
    mutable std::deque<std::int32_t> readings;
    mutable int reads = 0;
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
    void WaitForEvents(int timeoutMs) override {
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
struct HandTimed : ::testing::Test {
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

TEST_F(HandTimed, ExposureEndsWhenTheClockReachesStartPlusLength) {
    startExposure(5000, 1000);
    timing.WaitForExposure(progress);
    EXPECT_EQ(clock.now, 6000) << "not a millisecond late on a clock that moves only by waits";
    ASSERT_FALSE(progress.values.empty());
    EXPECT_EQ(progress.values.front(), 0.0F);
    EXPECT_LE(progress.values.back(), 1000.0F);
}

TEST_F(HandTimed, EachTurnBlocksUntilTheDeadlineOrTheNextRefresh) {
    startExposure(0, 10'000);
    timing.WaitForExposure(progress);
    // Refreshes at 25 Hz: about 250 turns for 10 s, not a spin.
    EXPECT_GE(pump.turns(), 240);
    EXPECT_LE(pump.turns(), 260);
    for (int timeout : pump.waits) {
        EXPECT_GT(timeout, 0);
        EXPECT_LE(timeout, ExposureTiming::ProgressRefreshMs);
    }
    EXPECT_LE(pump.polls, ExposureTiming::FinalPollMs) << "only the last millisecond is polled";
    EXPECT_EQ(progress.values.size(), static_cast<std::size_t>(pump.turns()));
}

TEST_F(HandTimed, ProgressNeverPassesTheLengthEvenWhenTheSecondReadingIsPastTheEnd) {
    startExposure(1000, 100);
    // First reading before the end, second one well past it.
    clock.readings = {1050, 1400};
    timing.WaitForExposure(progress);
    ASSERT_EQ(progress.values.size(), 1U);
    EXPECT_EQ(progress.values[0], 100.0F);
}

TEST_F(HandTimed, ProgressRisesWithTheClockAndStaysWithinTheBar) {
    startExposure(-20, 300);
    timing.WaitForExposure(progress);
    float previous = -1;
    for (float v : progress.values) {
        EXPECT_GE(v, previous);
        EXPECT_GE(v, 0.0F);
        EXPECT_LE(v, 300.0F);
        previous = v;
    }
}

TEST_F(HandTimed, ProgressStaysAtZeroWhenAHandlerMovesTheStartAhead) {
    startExposure(0, 200);
    pump.onTurn = [&](int turn) {
        if (turn == 1) {
            state.ExposureStart = TickAdd(clock.now, 100);
        }
    };
    timing.WaitForExposure(progress);
    EXPECT_EQ(clock.now, 40 + 100 + 200) << "ends at the moved start + length";
    for (float v : progress.values) {
        EXPECT_GE(v, 0.0F);
    }
}

class NoExposure : public HandTimed, public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(NoExposure, ReturnsOnTheFirstTurnWithoutTouchingTheProgress) {
    startExposure(123, GetParam());
    timing.WaitForExposure(progress);
    EXPECT_TRUE(progress.values.empty());
    EXPECT_TRUE(progress.maxima.empty());
    EXPECT_EQ(pump.turns(), 0);
    EXPECT_EQ(clock.now, 123);
}

INSTANTIATE_TEST_SUITE_P(ExposureTiming, NoExposure, ::testing::Values(0, -1, -5000, Int32Min),
                         [](const auto& info) {
                             return info.param == 0
                                        ? std::string("Zero")
                                        : "Minus" + std::to_string(
                                                        -static_cast<std::int64_t>(info.param));
                         });

TEST_F(HandTimed, HandlerSettingLengthZeroEndsTheWaitOnTheNextTurn) {
    startExposure(0, 60'000);
    pump.onTurn = [&](int turn) {
        if (turn == 3) {
            state.ExposureMs = 0; // what Stop does
        }
    };
    timing.WaitForExposure(progress);
    EXPECT_EQ(pump.turns(), 3);
    EXPECT_EQ(progress.values.size(), 3U) << "no refresh after Stop: the bar stays where it was";
    EXPECT_LT(progress.values.back(), 60'000.0F);
}

TEST_F(HandTimed, HandlerLengtheningTheExposureIsHonoured) {
    startExposure(0, 100);
    pump.onTurn = [&](int turn) {
        if (turn == 1) {
            state.ExposureMs = 500;
        }
    };
    timing.WaitForExposure(progress);
    EXPECT_EQ(clock.now, 500);
    EXPECT_GT(progress.values.back(), 100.0F);
    EXPECT_LT(progress.values.back(), 500.0F);
}

struct WrapCase {
    const char* name;
    std::int32_t start;
};

class ExposureAcrossWrap : public HandTimed, public ::testing::WithParamInterface<WrapCase> {};

TEST_P(ExposureAcrossWrap, EndsOnTimeWithProgressCountedAcrossTheBoundary) {
    startExposure(GetParam().start, 1000);
    timing.WaitForExposure(progress);
    EXPECT_EQ(TickDiff(clock.now, GetParam().start), 1000);
    float previous = -1;
    for (float v : progress.values) {
        EXPECT_GT(v, previous);
        EXPECT_LE(v, 1000.0F);
        previous = v;
    }
}

INSTANTIATE_TEST_SUITE_P(ExposureTiming, ExposureAcrossWrap,
                         ::testing::Values(WrapCase{"signed", Int32Max - 300},
                                           WrapCase{"unsigned", -300}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Settle wait ----

TEST_F(HandTimed, SettleWaitLastsOneHundredMilliseconds) {
    clock.now = 777;
    timing.SettleWait();
    EXPECT_EQ(clock.now, 877);
    EXPECT_LE(pump.polls, ExposureTiming::FinalPollMs);
}

TEST_F(HandTimed, SettleWaitTestsTheClockBeforeHandlingAnyEvent) {
    clock.readings = {0, 100};
    timing.SettleWait();
    EXPECT_EQ(pump.turns(), 0);
}

TEST_F(HandTimed, SettleWaitAcrossBothWrapsEndsOnTime) {
    for (std::int32_t t0 : {Int32Max - 30, std::int32_t{-30}}) {
        clock.now = t0;
        timing.SettleWait();
        EXPECT_EQ(TickDiff(clock.now, t0), SettleMs);
    }
}

// ---- Readout timer callback ----

struct ReadoutCase {
    std::int16_t readoutSelect;
    std::int16_t phaseBefore;
    States written;
    int enters;
};

class ReadoutTick : public HandTimed, public ::testing::WithParamInterface<ReadoutCase> {};

TEST_P(ReadoutTick, WritesTheReadoutStateAndSendsReturnOnlyFromPhaseZeroOrOne) {
    const auto& c = GetParam();
    state.ReadoutSelect = c.readoutSelect;
    state.TimerPhase = c.phaseBefore;
    state.PortState = 0x30;

    timing.ReadoutTimerProc();

    EXPECT_EQ(state.TimerPhase, 2);
    EXPECT_EQ(monitor.states(), c.written);
    EXPECT_EQ(keys.enters, c.enters);
    if (!c.written.empty()) {
        EXPECT_EQ(state.PortState, c.written.back());
    } else {
        EXPECT_EQ(state.PortState, 0x30);
    }
}

INSTANTIATE_TEST_SUITE_P(ExposureTiming, ReadoutTick,
                         ::testing::Values(ReadoutCase{1, 0, {LineReadout}, 1},
                                           ReadoutCase{0, 0, {LineReadoutField1}, 1},
                                           ReadoutCase{1, 1, {LineReadout}, 1},
                                           ReadoutCase{1, 2, {}, 0}, ReadoutCase{0, 2, {}, 0}),
                         [](const auto& info) {
                             return "Select" + std::to_string(info.param.readoutSelect) + "Phase" +
                                    std::to_string(info.param.phaseBefore);
                         });

TEST_F(HandTimed, LaterTicksOfTheSameArmingWriteAndSendNothing) {
    state.ReadoutSelect = 1;
    state.TimerPhase = 0;
    for (int tick = 0; tick < 5; ++tick) {
        timing.ReadoutTimerProc();
    }
    EXPECT_EQ(monitor.states(), States{LineReadout});
    EXPECT_EQ(keys.enters, 1);
}

// ---- On the real event loop ----

namespace {

struct LiveTimed : ::testing::Test {
    explicit LiveTimed(std::int64_t clockOffset = 0) : services(clockOffset) {}

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

    // Arms as the capture commands do, then acquires.
    std::int32_t acquire(std::int16_t readoutSelect, unsigned intervalMs) {
        state.ReadoutSelect = readoutSelect;
        state.TimerPhase = 0;
        return timing.AcquireWithReadoutTimer(&window, intervalMs, "temp.bmp");
    }
};

// Real clock offset so that it reads just below a wrap boundary when the test starts.
std::int64_t OffsetToReach(std::int64_t target) {
    return target - SystemClock().timeGetTime();
}

} // namespace

TEST_F(LiveTimed, BinnedReadoutConfirmsTheDialogOnceAndKillsTheTimer) {
    lines.WriteSettled();
    lines.WriteExposureState(0);
    services.lines.clearHistory();

    EXPECT_EQ(acquire(1, BinnedTimerMs), AcquireOk);

    EXPECT_EQ(services.lines.states(), States{LineReadout});
    EXPECT_EQ(state.TimerPhase, 2);
    EXPECT_EQ(services.keys.enters, 1);
    ASSERT_EQ(services.acquisition.calls.size(), 1U);
    EXPECT_TRUE(services.acquisition.calls[0].wroteFile);
    EXPECT_FALSE(services.acquisition.calls[0].timedOut);
    EXPECT_EQ(services.acquisition.calls[0].parent, &window);
    EXPECT_EQ(services.timers.activeCount(), 0U);
}

TEST_F(LiveTimed, FirstHiresFieldReadsOutWithField1State) {
    EXPECT_EQ(acquire(0, HiresTimerMs), AcquireOk);
    EXPECT_EQ(services.lines.states(), States{LineReadoutField1});
    EXPECT_EQ(state.PortState, LineReadoutField1);
}

TEST_F(LiveTimed, TicksWhileTheDialogIgnoresReturnWriteAndSendNothingMore) {
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

    EXPECT_EQ(acquire(1, BinnedTimerMs), AcquireOk);

    EXPECT_GE(elapsed.elapsed(), 70) << "the dialog stayed open while the timer ticked on";
    EXPECT_EQ(services.lines.states(), States{LineReadout});
    EXPECT_EQ(services.keys.enters, 1);
    EXPECT_EQ(services.timers.activeCount(), 0U);
}

TEST_F(LiveTimed, AcquisitionReturningBeforeTheFirstTickLeavesTheExposureState) {
    lines.WriteExposureState(1);
    services.acquisition.script.push_back(ScriptedAcquisition::ReturnAtOnce());

    EXPECT_EQ(acquire(1, BinnedTimerMs), AcquireOk);
    // Events handled after the acquisition must not tick the killed timer either.
    services.pump.WaitForEvents(20);

    EXPECT_EQ(state.TimerPhase, 0);
    EXPECT_EQ(services.lines.states(), States{LineExposeAmpOff});
    EXPECT_EQ(services.keys.enters, 0);
    EXPECT_EQ(services.timers.activeCount(), 0U);
}

TEST_F(LiveTimed, FailedOrCancelledAcquisitionsReturnTheirResult) {
    services.acquisition.script.push_back(ScriptedAcquisition::Fail(AcquireNoFrameInTime));
    services.acquisition.script.push_back(ScriptedAcquisition::Cancel());
    EXPECT_EQ(acquire(1, BinnedTimerMs), AcquireNoFrameInTime);
    EXPECT_EQ(acquire(0, HiresTimerMs), AcquireCancelled);
    EXPECT_EQ(services.lines.states(), (States{LineReadout, LineReadoutField1}));
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

TEST_F(LiveTimed, TimerDoesNotOutliveAnAcquisitionThatThrows) {
    ThrowingAcquisition throwing;
    Services s = services.services();
    Services withThrowing{s.clock, s.lines,    s.port,  s.timers, s.keys,
                          s.pump,  s.messages, s.files, throwing};
    ExposureTiming t(state, withThrowing, lines);
    EXPECT_THROW(t.AcquireWithReadoutTimer(&window, 1, "temp.bmp"), std::runtime_error);
    EXPECT_EQ(services.timers.activeCount(), 0U);
}

TEST_F(LiveTimed, StopDuringTheExposureEndsItPromptly) {
    state.ExposureStart = services.clock.timeGetTime();
    state.ExposureMs = 60'000;
    QTimer::singleShot(50, [this] { state.ExposureMs = 0; });
    QElapsedTimer elapsed;
    elapsed.start();

    timing.WaitForExposure(progress);

    EXPECT_LT(elapsed.elapsed(), 5000);
    ASSERT_FALSE(progress.values.empty());
    EXPECT_LT(progress.values.back(), 60'000.0F);
}

TEST_F(LiveTimed, SettleWaitLetsTimersRunAndDoesNotEndEarly) {
    int fired = 0;
    QTimer::singleShot(10, [&] { ++fired; });
    QElapsedTimer elapsed;
    elapsed.start();
    const std::int32_t t0 = services.clock.timeGetTime();

    timing.SettleWait();

    EXPECT_GE(TickDiff(services.clock.timeGetTime(), t0), SettleMs);
    EXPECT_LT(elapsed.elapsed(), 5000);
    EXPECT_EQ(fired, 1);
}

struct LiveWrap : LiveTimed, ::testing::WithParamInterface<std::int64_t> {
    LiveWrap() : LiveTimed(OffsetToReach(GetParam() - 150)) {}
};

TEST_P(LiveWrap, ExposureAcrossTheBoundaryOfTheRealClockEndsOnTime) {
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

INSTANTIATE_TEST_SUITE_P(ExposureTiming, LiveWrap,
                         ::testing::Values(std::int64_t{1} << 31, std::int64_t{1} << 32),
                         [](const auto& info) {
                             return info.param == std::int64_t{1} << 31 ? "Signed" : "Unsigned";
                         });
