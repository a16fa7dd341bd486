// One frame from a real webcam, when the machine has one we may use; skipped otherwise.
#include "platform/Clock.h"
#include "platform/acquisition/CaptureDevices.h"
#include "platform/acquisition/LibV4l2Calls.h"
#include "platform/acquisition/V4l2Source.h"
#include "platform/acquisition/WebcamStream.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace lumenvale;

TEST(RealWebcamTest, DeliversAFrameAfterTheConfirmation) {
    LibV4l2Calls calls;
    const auto devices = FindCaptureDevices(calls, "/dev");
    const auto usable = std::find_if(devices.begin(), devices.end(),
                                     [](const CaptureDevice& d) { return d.accessible; });
    if (usable == devices.end()) {
        GTEST_SKIP() << "no webcam we may use on this machine";
    }
    SystemClock clock;
    V4l2Source::Settings settings;
    settings.path = usable->path;
    settings.name = usable->name;
    settings.frameTimeoutMs = 5000;
    WebcamStream stream(calls);
    V4l2Source source(stream, clock, settings, {});
    if (const auto failure = source.start()) {
        if (failure->code == AcquireDeviceBusy) {
            GTEST_SKIP() << failure->reason.toStdString();
        }
        FAIL() << failure->reason.toStdString();
    }
    QTest::qWait(300); // let the camera settle into streaming
    source.poll();
    source.confirm();
    SourcePoll poll;
    while (poll.state == SourcePoll::State::Waiting) {
        QTest::qWait(source.pollIntervalMs());
        poll = source.poll();
    }
    ASSERT_EQ(poll.state, SourcePoll::State::Captured) << poll.failure.reason.toStdString();
    EXPECT_EQ(poll.frame->pixels().size(), AcquiredFrame::PixelBytes);
}
