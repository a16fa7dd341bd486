// The message pump the waits block in: it must sleep until an event or its wake-up, and wake
// at once for timers, posted events and events queued from outside the thread.
#include "platform/MessagePump.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace lumenvale;

namespace {

struct MessagePumpTest : ::testing::Test {
    QtMessagePump pump;
    QElapsedTimer elapsed;

    void SetUp() override {
        pump.DoEvents(); // nothing left over from earlier tests
        elapsed.start();
    }
};

} // namespace

TEST_F(MessagePumpTest, WithNothingToDoItSleepsUntilItsWakeUp) {
    for (int i = 0; i < 3; ++i) {
        elapsed.restart();
        pump.waitForEvents(60);
        EXPECT_GE(elapsed.elapsed(), 55) << "returned early: it would spin";
        EXPECT_LT(elapsed.elapsed(), 2000);
    }
}

TEST_F(MessagePumpTest, ATimerEndsTheWaitEarlyAndRuns) {
    bool fired = false;
    QTimer::singleShot(20, [&] { fired = true; });
    pump.waitForEvents(5000);
    EXPECT_TRUE(fired);
    EXPECT_LT(elapsed.elapsed(), 2500);
}

TEST_F(MessagePumpTest, AnEventQueuedFromElsewhereEndsTheWaitEarly) {
    std::atomic<bool> handled{false};
    std::thread windowSystem([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&] { handled = true; }, Qt::QueuedConnection);
    });
    while (!handled && elapsed.elapsed() < 5000) {
        pump.waitForEvents(5000);
    }
    windowSystem.join();
    EXPECT_TRUE(handled);
    EXPECT_LT(elapsed.elapsed(), 2500);
}

TEST_F(MessagePumpTest, ZeroOrLessHandlesPendingEventsWithoutBlocking) {
    for (int timeout : {0, -1}) {
        bool handled = false;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&] { handled = true; }, Qt::QueuedConnection);
        pump.waitForEvents(timeout);
        EXPECT_TRUE(handled);
    }
    pump.waitForEvents(0);
    pump.DoEvents();
    EXPECT_LT(elapsed.elapsed(), 1000);
}
