// One exposure from a real webcam through libv4l2 and libv4lconvert, when the machine has one we
// may use (skipped otherwise). ctest also runs it on the emulated webcam, whose exposure frame
// must then be the one kept: bright in the rows the readout fills, in every pixel format.
#include "support/emulated_webcam/EmulatedWebcamControl.h"

#include "acquisition/CaptureDevices.h"
#include "acquisition/LibV4l2Calls.h"
#include "acquisition/V4l2Source.h"
#include "acquisition/WebcamStream.h"
#include "lines/LineMonitor.h"
#include "lines/PpdevPort.h"
#include "lines/PpdevSyscalls.h"
#include "platform/Clock.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace lumenvale;
using namespace lumenvale::test;

namespace {

double storedRowMean(const AcquiredFrame& frame, int row) {
    const std::uint8_t* bytes = frame.storedRow(row);
    double sum = 0;
    for (std::size_t i = 0; i < AcquiredFrame::RowBytes; ++i) {
        sum += bytes[i];
    }
    return sum / AcquiredFrame::RowBytes;
}

} // namespace

TEST(RealWebcamTest, KeepsTheFrameReadOutAfterTheExposure) {
    const bool emulated = EmulatedWebcamPreloaded();
    struct Case {
        const char* format;
        const char* damage; // of the emulated camera's exposure frame
    };
    const Case cases[] = {{"YUYV", "none"},
                          {"MJPG", "none"},
                          {"GREY", "none"},
                          {"BA81", "none"},
                          {"MJPG", "truncated@exposure:1"},
                          {"YUYV", "short@exposure:1"}};
    for (const auto& [format, damage] : cases) {
        SCOPED_TRACE(std::string(format) + ", damage " + damage);
        const bool damaged = std::string(damage) != "none";
        if (emulated) {
            ASSERT_TRUE(
                ConfigureEmulatedWebcam(std::string("FORMATS=") + format + ";DAMAGE=" + damage));
        }
        LibV4l2Calls calls;
        const auto devices = FindCaptureDevices(calls, "/dev");
        const auto usable = std::find_if(devices.begin(), devices.end(),
                                         [](const CaptureDevice& d) { return d.accessible; });
        if (usable == devices.end()) {
            ASSERT_FALSE(emulated) << "the emulated webcam is not listed";
            GTEST_SKIP() << "no webcam we may use on this machine";
        }
        SystemClock clock;
        LineMonitor lines;
        KernelPpdevSyscalls ppdev;
        PpdevPort port(lines, clock, ppdev);
        port.InitializeWinIo(); // the camera lines, where a port is there
        V4l2Source::Options settings;
        settings.path = usable->path;
        settings.name = usable->name;
        settings.frameTimeoutMs = 5000;
        WebcamStream stream(calls);
        std::int64_t readoutUs = 0;
        V4l2Source source(stream, clock, settings, [&] { return readoutUs; });
        if (const auto failure = source.start()) {
            if (failure->code == AcquireDeviceBusy) {
                GTEST_SKIP() << failure->reason.toStdString();
            }
            FAIL() << failure->reason.toStdString();
        }
        port.SetPortVal(888, 0x34, 1); // the exposure state
        QTest::qWait(500);
        port.SetPortVal(888, 0x37, 1); // the readout
        readoutUs = lines.history().back().monotonicUs;
        source.confirm();
        SourcePoll poll;
        QElapsedTimer waited;
        waited.start();
        while (poll.state == SourcePoll::State::Waiting && waited.elapsed() < 10000) {
            QTest::qWait(source.pollIntervalMs());
            poll = source.poll();
        }
        if (damaged) {
            // A frame cut short on the way is never decoded into a whole-looking picture, and
            // no later frame is kept instead.
            ASSERT_EQ(poll.state, SourcePoll::State::Failed);
            EXPECT_EQ(poll.failure.code, AcquireDamagedFrame) << poll.failure.reason.toStdString();
        } else {
            ASSERT_EQ(poll.state, SourcePoll::State::Captured) << poll.failure.reason.toStdString();
            EXPECT_EQ(poll.frame->pixels().size(), AcquiredFrame::PixelBytes);
        }
        if (emulated && !damaged) {
            // 0.5 s of light at 16 + ms / 5, in the even stored rows; an unexposed frame is 16.
            const double even = storedRowMean(*poll.frame, 240);
            const double odd = storedRowMean(*poll.frame, 241);
            if (std::string(format) == "BA81") {
                // Demosaicing mixes neighbouring rows: their mean still tells the exposure.
                EXPECT_NEAR((even + odd) / 2, 66, 8) << "the exposure frame";
            } else {
                EXPECT_NEAR(even, 116, 8) << "the exposure frame";
                EXPECT_NEAR(odd, 16, 4);
            }
            EXPECT_EQ(EmulatedWebcamCount("streamon"), 1);
        }
        source.stop();
        stream.close();
        port.ShutdownWinIo();
        if (!emulated) {
            return; // one real camera, in whatever format it chose
        }
    }
}
