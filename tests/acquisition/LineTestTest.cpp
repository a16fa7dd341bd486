// The source chooser's line test on a fake FTDI chip: every state of the program in turn,
// named, then the chip closed; a chip that cannot be opened, or fails midway, says why.
#include "support/FakeLineCalls.h"

#include "acquisition/dialog/LineTest.h"
#include "lines/CameraStates.h"
#include "lines/LinePorts.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <cerrno>

namespace lumenvale::test {
namespace {

struct LineTestTest : ::testing::Test {
    FakeTty tty;
    FakeHid hid;
    FakeFtdi ftdi;
    FakeGpio gpio;
    LineCalls calls{tty, hid, ftdi, gpio};
    SystemClock clock;
    LineTest test{calls, clock, 1};
    QStringList reports;
    const LinesChoice chip{LineAdapter::Ftdi, "s:0x0403:0x6001:A50285BI",
                           DefaultLineMapping(LineAdapter::Ftdi)};

    void SetUp() override {
        test.onReport = [this](const QString& text) { reports << text; };
    }
    void runToTheEnd() {
        QElapsedTimer waited;
        waited.start();
        while (test.running()) {
            ASSERT_LT(waited.elapsed(), 20000) << "the line test did not end";
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
    }
};

TEST_F(LineTestTest, StepsThroughEveryStateNamingEachThenCloses) {
    test.start(chip);
    runToTheEnd();
    std::vector<unsigned> pins;
    for (const auto& change : ftdi.history) {
        pins.push_back(change.outputs);
    }
    // The state at opening, then the seven states; the first, 0x00, changes no output and
    // sends no byte.
    EXPECT_EQ(pins, (std::vector<unsigned>{0x00, 0x27, 0x37, 0x14, 0x34, 0x30, 0x35}));
    ASSERT_EQ(reports.size(), 8);
    EXPECT_EQ(reports[1], QStringLiteral("0x27: frame start, first half (D0 D1 D2 D5)"));
    EXPECT_TRUE(reports[7].startsWith(QStringLiteral("Line test done")));
    EXPECT_EQ(ftdi.calls.back(), "close");
}

TEST_F(LineTestTest, SaysWhyItCannotStartOrWhyItStopped) {
    ftdi.failures["open"] = EACCES;
    test.start(chip);
    EXPECT_FALSE(test.running());
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].contains(QStringLiteral("udev rule"))) << reports[0].toStdString();

    ftdi.failures.clear();
    ftdi.writesBeforeUnplug = 3; // the state at opening, idle, the first pulse
    test.start(chip);
    runToTheEnd();
    EXPECT_TRUE(reports.last().contains(QStringLiteral("No such device")))
        << reports.last().toStdString();
}

} // namespace
} // namespace lumenvale::test
