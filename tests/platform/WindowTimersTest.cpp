// Window timers: keyed by window and id, ticking only while events are handled, and safe to
// kill from their own callback.
#include "platform/WindowTimers.h"
#include "platform/MessagePump.h"

#include <QElapsedTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

using namespace lumenvale;

namespace {

struct WindowTimersTest : ::testing::Test {
    WindowTimers timers;
    QtMessagePump pump;
    QWidget window;
    QWidget otherWindow;

    // Handles events until `done` or `limitMs` milliseconds have passed.
    template <typename Done> void pumpUntil(Done done, int limitMs = 5000) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < limitMs) {
            pump.waitForEvents(static_cast<int>(std::min<qint64>(10, limitMs - t.elapsed())));
        }
    }
    void pumpFor(int ms) {
        pumpUntil([] { return false; }, ms);
    }
};

} // namespace

TEST_F(WindowTimersTest, TicksOnlyWhileEventsAreHandledWithItsWindowAndId) {
    int ticks = 0;
    QWidget* seenWindow = nullptr;
    std::uintptr_t seenId = 99;
    unsigned seenMessage = 0;
    EXPECT_EQ(timers.SetTimer(&window, 0, 1,
                              [&](QWidget* w, unsigned message, std::uintptr_t id, std::uint32_t) {
                                  ++ticks;
                                  seenWindow = w;
                                  seenId = id;
                                  seenMessage = message;
                              }),
              0U);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ticks, 0) << "a window timer is delivered by the event loop only";

    pumpUntil([&] { return ticks >= 3; });
    EXPECT_GE(ticks, 3) << "it repeats";
    EXPECT_EQ(seenWindow, &window);
    EXPECT_EQ(seenId, 0U);
    EXPECT_EQ(seenMessage, 0x0113U);
}

TEST_F(WindowTimersTest, KilledTimerTicksNoMore) {
    int ticks = 0;
    timers.SetTimer(&window, 0, 1, [&](auto...) { ++ticks; });
    pumpUntil([&] { return ticks >= 1; });
    EXPECT_TRUE(timers.KillTimer(&window, 0));
    const int atKill = ticks;
    pumpFor(40);
    EXPECT_EQ(ticks, atKill);
    EXPECT_FALSE(timers.KillTimer(&window, 0)) << "nothing left to kill";
    EXPECT_EQ(timers.activeCount(), 0U);
}

TEST_F(WindowTimersTest, ACallbackMayKillOrReplaceItsOwnTimerAndKilledTimersAreFreed) {
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replaced" : "killed");
        WindowTimers local;
        int ticks = 0;
        int replacementTicks = 0;
        local.SetTimer(&window, 0, 1, [&](QWidget* w, unsigned, std::uintptr_t id, std::uint32_t) {
            ++ticks;
            if (replace) {
                local.SetTimer(w, id, 1, [&](auto...) { ++replacementTicks; });
            } else {
                local.KillTimer(w, id);
            }
        });
        pumpUntil([&] { return ticks >= 1 && (!replace || replacementTicks >= 2); });
        EXPECT_EQ(ticks, 1);
        EXPECT_EQ(local.activeCount(), replace ? 1U : 0U);

        // Without returning to any outer loop, as a capture run never does, the next call frees
        // the timer whose callback has ended.
        local.KillTimer(&window, 0);
        for (int i = 0; i < 100; ++i) {
            local.SetTimer(&otherWindow, 0, 1, [](auto...) {});
            local.KillTimer(&otherWindow, 0);
        }
        EXPECT_EQ(local.allocatedCount(), 0U);
    }
}

TEST_F(WindowTimersTest, SettingTheSameTimerAgainReplacesItAndOtherWindowsAreSeparate) {
    int first = 0;
    int second = 0;
    int other = 0;
    timers.SetTimer(&window, 0, 1, [&](auto...) { ++first; });
    timers.SetTimer(&window, 0, 1, [&](auto...) { ++second; });
    timers.SetTimer(&otherWindow, 0, 1, [&](auto...) { ++other; });
    EXPECT_EQ(timers.activeCount(), 2U);

    pumpUntil([&] { return second >= 2 && other >= 2; });
    EXPECT_EQ(first, 0);
    EXPECT_GE(second, 2);

    timers.KillTimer(&window, 0);
    const int otherAtKill = other;
    pumpUntil([&] { return other > otherAtKill; });
    EXPECT_GT(other, otherAtKill) << "killing one window's timer leaves the other's running";
}

TEST_F(WindowTimersTest, FiftyMillisecondIntervalIsKept) {
    int ticks = 0;
    QElapsedTimer t;
    t.start();
    qint64 firstTick = -1;
    timers.SetTimer(&window, 0, 50, [&](auto...) {
        if (ticks++ == 0) {
            firstTick = t.elapsed();
        }
    });
    pumpUntil([&] { return ticks >= 1; });
    EXPECT_GE(firstTick, 45) << "not before its interval";
}
