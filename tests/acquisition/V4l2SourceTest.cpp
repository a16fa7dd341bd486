// A webcam through the fake V4L2 calls: which buffer becomes the frame, when waiting gives up,
// what a failing device says, and that any camera size comes out as the right 640 x 480 frame.
#include "support/FakeV4l2Device.h"

#include "platform/Clock.h"
#include "platform/acquisition/CaptureDevices.h"
#include "platform/acquisition/FrameBmp.h"
#include "platform/acquisition/V4l2Source.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <cerrno>
#include <fstream>

using namespace lumenvale;
using namespace lumenvale::test;

namespace {

constexpr char CameraPath[] = "/dev/video0";

class SteppedClock : public Clock {
public:
    std::int32_t timeGetTime() const override { return now; }
    std::int32_t now = 5000;
};

// Whether `frame` is picture `seed` of a camera delivering width x height.
::testing::AssertionResult showsPicture(const AcquiredFrame& frame, int seed, int width,
                                        int height) {
    for (int y = 0; y < AcquiredFrame::Height; ++y) {
        const std::uint8_t* row = frame.storedRow(AcquiredFrame::Height - 1 - y);
        for (int x = 0; x < AcquiredFrame::Width; ++x) {
            const auto rgb = FakeV4l2Device::PatternPixel(seed, x * width / AcquiredFrame::Width,
                                                          y * height / AcquiredFrame::Height);
            const std::uint8_t* bgr = row + 3 * x;
            if (bgr[0] != rgb[2] || bgr[1] != rgb[1] || bgr[2] != rgb[0]) {
                return ::testing::AssertionFailure() << "picture line " << y << ", column " << x
                                                     << " is not from picture " << seed;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

struct V4l2SourceTest : ::testing::Test {
    FakeV4l2Device device;
    SteppedClock clock;

    V4l2SourceTest() { device.cameras[CameraPath] = FakeV4l2Camera{}; }

    V4l2Source::Settings settings(int skip = 1) {
        V4l2Source::Settings s;
        s.path = CameraPath;
        s.name = QStringLiteral("Fake Camera");
        s.skipFrames = skip;
        s.frameTimeoutMs = 3000;
        return s;
    }
};

} // namespace

TEST_F(V4l2SourceTest, KeepsTheFrameAfterTheSkippedOnesAndNeverCountsStaleBuffers) {
    struct Case {
        int skip;
        int keptSeed;
    };
    // Pictures 1 and 2 wait in the driver when the user confirms; 3, 4, 5, ... come after.
    for (const Case c : {Case{0, 3}, Case{1, 4}, Case{2, 5}, Case{3, 6}}) {
        SCOPED_TRACE(c.skip);
        V4l2Source source(device, clock, settings(c.skip));
        ASSERT_FALSE(source.start());
        device.deliver(1);
        device.deliver(2);
        source.confirm();
        for (int seed = 3; seed <= 8; ++seed) {
            device.deliver(seed);
        }
        SourcePoll poll = source.poll();
        ASSERT_EQ(poll.state, SourcePoll::State::Captured);
        EXPECT_TRUE(showsPicture(*poll.frame, c.keptSeed, 640, 480));
        source.stop();
    }
}

TEST_F(V4l2SourceTest, PreviewShowsWhatArrivesBeforeTheConfirmation) {
    V4l2Source source(device, clock, settings());
    ASSERT_FALSE(source.start());
    device.deliver(7);
    SourcePoll poll = source.poll();
    EXPECT_EQ(poll.state, SourcePoll::State::Waiting);
    ASSERT_TRUE(poll.preview);
    EXPECT_TRUE(showsPicture(*poll.preview, 7, 640, 480));
}

TEST_F(V4l2SourceTest, ErrorFlaggedAndShortBuffersAreNeverKept) {
    device.cameras[CameraPath].rowPadding = 8; // the last row's padding need not be sent
    struct Case {
        const char* what;
        int skip;
        std::vector<std::pair<std::uint32_t, std::size_t>> after; // flags, bytes short
        int keptSeed;                                             // seeds count from 3
    };
    const std::vector<Case> cases = {
        {"error flag after the skip", 1, {{0, 0}, {V4L2_BUF_FLAG_ERROR, 0}, {0, 0}}, 5},
        {"short by one byte", 0, {{0, 9}, {0, 0}}, 4},
        {"missing only the last padding", 0, {{0, 8}}, 3},
        {"empty buffer", 0, {{0, 640 * 3 * 480 + 8 * 480}, {0, 0}}, 4},
        {"broken frames count as skipped", 2, {{V4L2_BUF_FLAG_ERROR, 0}, {0, 5000}, {0, 0}}, 5},
        {"several bad ones in a row",
         0,
         {{V4L2_BUF_FLAG_ERROR, 0}, {0, 9}, {V4L2_BUF_FLAG_ERROR, 0}, {0, 0}},
         6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        V4l2Source source(device, clock, settings(c.skip));
        ASSERT_FALSE(source.start());
        source.confirm();
        int seed = 3;
        for (const auto& [flags, shortBy] : c.after) {
            device.deliver(seed++, flags, shortBy);
        }
        const SourcePoll poll = source.poll();
        ASSERT_EQ(poll.state, SourcePoll::State::Captured);
        EXPECT_TRUE(showsPicture(*poll.frame, c.keptSeed, 640, 480));
    }
}

TEST_F(V4l2SourceTest, OnlyBadFramesMeansWaitingOn) {
    V4l2Source source(device, clock, settings(0));
    ASSERT_FALSE(source.start());
    source.confirm();
    device.deliver(3, V4L2_BUF_FLAG_ERROR);
    device.deliver(4, 0, 1);
    EXPECT_EQ(source.poll().state, SourcePoll::State::Waiting);
    device.deliver(5);
    EXPECT_EQ(source.poll().state, SourcePoll::State::Captured);
}

TEST_F(V4l2SourceTest, ACameraThatStopsDeliveringFailsWhenTheTimeIsUp) {
    V4l2Source source(device, clock, settings(1));
    ASSERT_FALSE(source.start());
    device.deliver(1);
    EXPECT_EQ(source.poll().state, SourcePoll::State::Waiting);
    source.confirm();
    device.deliver(2); // the skipped one; then nothing more
    clock.now += 2999;
    EXPECT_EQ(source.poll().state, SourcePoll::State::Waiting);
    clock.now += 1;
    const SourcePoll poll = source.poll();
    ASSERT_EQ(poll.state, SourcePoll::State::Failed);
    EXPECT_EQ(poll.failure.code, AcquireNoFrameInTime);
    EXPECT_TRUE(poll.failure.reason.contains(QStringLiteral("3 s")));
    EXPECT_EQ(device.openDevices(), 0) << "the camera is released on failure";
}

TEST_F(V4l2SourceTest, TheTimeoutHoldsAcrossTheClockWrap) {
    clock.now = std::numeric_limits<std::int32_t>::max() - 1000;
    V4l2Source source(device, clock, settings(0));
    ASSERT_FALSE(source.start());
    source.confirm();
    clock.now = TickAdd(clock.now, 2000); // past 2^31, now negative
    EXPECT_EQ(source.poll().state, SourcePoll::State::Waiting);
    clock.now = TickAdd(clock.now, 1000);
    EXPECT_EQ(source.poll().state, SourcePoll::State::Failed);
}

TEST_F(V4l2SourceTest, AnyCameraSizeBecomesTheSamePictureAt640x480) {
    struct Case {
        std::vector<std::pair<int, int>> offered;
        std::size_t padding;
        int width, height; // what must be chosen
    };
    const std::vector<Case> cases = {
        {{{320, 240}, {640, 480}, {1280, 720}}, 0, 640, 480},  // offered: taken as it is
        {{{640, 480}}, 12, 640, 480},                          // padded rows
        {{{320, 240}}, 0, 320, 240},                           // doubled
        {{{1280, 960}, {160, 120}}, 4, 1280, 960},             // halved, not blown up
        {{{352, 288}, {800, 600}, {1920, 1080}}, 0, 800, 600}, // the nearest
        {{{176, 144}}, 0, 176, 144},                           // uneven scale
        {{{320, 240}, {1280, 960}}, 0, 1280, 960},             // a tie goes to the larger
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        device.cameras[CameraPath].sizes = c.offered;
        device.cameras[CameraPath].rowPadding = c.padding;
        V4l2Source source(device, clock, settings(0));
        ASSERT_FALSE(source.start());
        EXPECT_EQ(device.width(), c.width);
        EXPECT_EQ(device.height(), c.height);
        source.confirm();
        device.deliver(9);
        const SourcePoll poll = source.poll();
        ASSERT_EQ(poll.state, SourcePoll::State::Captured);
        EXPECT_TRUE(showsPicture(*poll.frame, 9, c.width, c.height));

        // The file: 54-byte header, then the rows bottom-up, 921,654 bytes in all.
        const auto file = std::filesystem::path(dir.path().toStdString()) / "temp.bmp";
        WriteFrameBmp(file, *poll.frame);
        std::ifstream in(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        ASSERT_EQ(bytes.size(), 921654U);
        EXPECT_EQ(bytes.substr(0, 2), "BM");
        EXPECT_EQ(std::uint8_t(bytes[10]), 54);
        EXPECT_EQ(std::uint8_t(bytes[28]), 24);
        const auto top = FakeV4l2Device::PatternPixel(9, 0, 0);
        const std::size_t topLeft = 54 + 1920 * 479; // the top line is stored last
        EXPECT_EQ(std::uint8_t(bytes[topLeft]), top[2]);
        EXPECT_EQ(std::uint8_t(bytes[topLeft + 2]), top[0]);
        EXPECT_EQ(bytes.substr(54),
                  std::string(reinterpret_cast<const char*>(poll.frame->pixels().data()),
                              AcquiredFrame::PixelBytes));
    }
}

TEST_F(V4l2SourceTest, DeviceFailuresSayWhatToDo) {
    struct Case {
        const char* what;
        int openErrno;
        int streamOnErrno;
        std::int32_t code;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"not in the video group", EACCES, 0, AcquirePermissionDenied, "video group"},
        {"open by another program", EBUSY, 0, AcquireDeviceBusy, "another program"},
        {"streaming taken by another program", 0, EBUSY, AcquireDeviceBusy, "another program"},
        {"unplugged", ENODEV, 0, AcquireNoSource, "not connected"},
        {"odd error", EIO, 0, AcquireFailed, "open failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        device.cameras[CameraPath].openErrno = c.openErrno;
        device.cameras[CameraPath].streamOnErrno = c.streamOnErrno;
        V4l2Source source(device, clock, settings());
        const auto failure = source.start();
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->code, c.code);
        EXPECT_TRUE(failure->reason.contains(QLatin1String(c.says)))
            << failure->reason.toStdString();
        EXPECT_TRUE(failure->reason.contains(QLatin1String(CameraPath)));
        EXPECT_EQ(device.openDevices(), 0);
    }
}

TEST_F(V4l2SourceTest, ANodeThatIsNotACameraIsRefused) {
    device.cameras[CameraPath].caps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    V4l2Source source(device, clock, settings());
    const auto failure = source.start();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->code, AcquireNoSource);
    EXPECT_EQ(device.openDevices(), 0);
}

TEST(CaptureDevicesTest, FindsTheCaptureNodesInNumberOrder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path root = dir.path().toStdString();
    FakeV4l2Device device;
    auto node = [&](const char* name) {
        std::ofstream(root / name).put('\n');
        return (root / name).string();
    };
    device.cameras[node("video10")].card = "Second Camera";
    device.cameras[node("video0")].card = "First Camera";
    device.cameras[node("video1")].caps = V4L2_CAP_META_CAPTURE; // the first camera's metadata
    device.cameras[node("video2")].openErrno = EACCES;
    device.cameras[node("video3")].caps = V4L2_CAP_VIDEO_CAPTURE; // no streaming
    node("video4");                                               // gone by the time we ask
    device.cameras[node("vbi0")].card = "Teletext";
    device.cameras[node("videoX")].card = "Not a node";

    const auto found = FindCaptureDevices(device, root);
    ASSERT_EQ(found.size(), 3U);
    EXPECT_EQ(found[0].path, (root / "video0").string());
    EXPECT_EQ(found[0].name, QStringLiteral("First Camera"));
    EXPECT_TRUE(found[0].accessible);
    EXPECT_EQ(found[1].path, (root / "video2").string());
    EXPECT_FALSE(found[1].accessible);
    EXPECT_EQ(found[2].name, QStringLiteral("Second Camera"));
    EXPECT_EQ(device.openDevices(), 0);

    EXPECT_TRUE(FindCaptureDevices(device, root / "missing").empty());
}
