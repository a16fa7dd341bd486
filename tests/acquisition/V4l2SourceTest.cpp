// A webcam through the fake V4L2 calls: which buffer becomes the frame, when waiting gives up,
// what a failing device says, and that any camera size comes out as the right 640 x 480 frame.
#include "support/FakeV4l2Device.h"
#include "support/TempDirTest.h"

#include "platform/Clock.h"
#include "platform/acquisition/CaptureDevices.h"
#include "platform/acquisition/FrameBmp.h"
#include "platform/acquisition/V4l2Source.h"

#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <cerrno>

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
::testing::AssertionResult showsPicture(const AcquiredFrame& frame, int seed, int width = 640,
                                        int height = 480) {
    return FakeV4l2Device::ShowsPicture(frame.pixels().data(), seed, width, height);
}

struct V4l2SourceTest : TempDirTest {
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

// Pictures 1 and 2 wait in the driver when the user confirms and are never counted; 3, 4, 5,
// ... come after. Until the frame to keep arrives the source waits; later ones do not replace it.
TEST_F(V4l2SourceTest, KeepsTheFrameAfterTheSkippedOnesNeverStaleErrorFlaggedOrShortOnes) {
    device.cameras[CameraPath].rowPadding = 8; // the last row's padding need not be sent
    constexpr std::pair<std::uint32_t, std::size_t> Good{0, 0}; // flags, bytes short
    struct Case {
        const char* what;
        int skip;
        std::vector<std::pair<std::uint32_t, std::size_t>> after;
        int keptSeed; // the last one of `after`
    };
    const std::vector<Case> cases = {
        {"nothing skipped", 0, {Good}, 3},
        {"one skipped", 1, {Good, Good}, 4},
        {"two skipped", 2, {Good, Good, Good}, 5},
        {"three skipped", 3, {Good, Good, Good, Good}, 6},
        {"error flag after the skip", 1, {Good, {V4L2_BUF_FLAG_ERROR, 0}, Good}, 5},
        {"short by one byte", 0, {{0, 9}, Good}, 4},
        {"missing only the last padding", 0, {{0, 8}}, 3},
        {"empty buffer", 0, {{0, 640 * 3 * 480 + 8 * 480}, Good}, 4},
        {"broken frames count as skipped", 2, {{V4L2_BUF_FLAG_ERROR, 0}, {0, 5000}, Good}, 5},
        {"several bad ones in a row",
         0,
         {{V4L2_BUF_FLAG_ERROR, 0}, {0, 9}, {V4L2_BUF_FLAG_ERROR, 0}, Good},
         6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        V4l2Source source(device, clock, settings(c.skip));
        ASSERT_FALSE(source.start());
        device.deliver(1);
        device.deliver(2);
        source.confirm();
        int seed = 3;
        for (const auto& [flags, shortBy] : c.after) {
            if (seed == c.keptSeed) {
                EXPECT_EQ(source.poll().state, SourcePoll::State::Waiting);
            }
            device.deliver(seed++, flags, shortBy);
        }
        device.deliver(seed++);
        device.deliver(seed);
        const SourcePoll poll = source.poll();
        ASSERT_EQ(poll.state, SourcePoll::State::Captured);
        EXPECT_TRUE(showsPicture(*poll.frame, c.keptSeed));
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
    EXPECT_TRUE(showsPicture(*poll.preview, 7));
}

TEST_F(V4l2SourceTest, ACameraThatStopsDeliveringFailsWhenTheTimeIsUpAlsoAcrossTheClockWrap) {
    for (const std::int32_t start : {5000, std::numeric_limits<std::int32_t>::max() - 1000}) {
        SCOPED_TRACE(start);
        clock.now = start;
        V4l2Source source(device, clock, settings(1));
        ASSERT_FALSE(source.start());
        device.deliver(1);
        EXPECT_EQ(source.poll().state, SourcePoll::State::Waiting);
        source.confirm();
        device.deliver(2); // the skipped one; then nothing more
        clock.now = TickAdd(clock.now, 2999);
        EXPECT_EQ(source.poll().state, SourcePoll::State::Waiting);
        clock.now = TickAdd(clock.now, 1);
        const SourcePoll poll = source.poll();
        ASSERT_EQ(poll.state, SourcePoll::State::Failed);
        EXPECT_EQ(poll.failure.code, AcquireNoFrameInTime);
        EXPECT_TRUE(poll.failure.reason.contains(QStringLiteral("3 s")));
        EXPECT_EQ(device.openDevices(), 0) << "the camera is released on failure";
    }
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
        WriteFrameBmp(dir / "temp.bmp", *poll.frame);
        const std::string bytes = read(dir / "temp.bmp");
        ASSERT_EQ(bytes.size(), 921654U);
        EXPECT_EQ(bytes.substr(0, 2), "BM");
        EXPECT_EQ(std::uint8_t(bytes[10]), 54);
        EXPECT_EQ(std::uint8_t(bytes[28]), 24);
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
        std::uint32_t caps;
        std::int32_t code;
        const char* says;
    };
    constexpr std::uint32_t Camera = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    const std::vector<Case> cases = {
        {"not in the video group", EACCES, 0, Camera, AcquirePermissionDenied, "video group"},
        {"open by another program", EBUSY, 0, Camera, AcquireDeviceBusy, "another program"},
        {"streaming taken by another program", 0, EBUSY, Camera, AcquireDeviceBusy,
         "another program"},
        {"unplugged", ENODEV, 0, Camera, AcquireNoSource, "not connected"},
        {"odd error", EIO, 0, Camera, AcquireFailed, "open failed"},
        {"not a camera", 0, 0, V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING, AcquireNoSource,
         "cannot capture video"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        device.cameras[CameraPath].openErrno = c.openErrno;
        device.cameras[CameraPath].streamOnErrno = c.streamOnErrno;
        device.cameras[CameraPath].caps = c.caps;
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

using CaptureDevicesTest = TempDirTest;

TEST_F(CaptureDevicesTest, FindsTheCaptureNodesInNumberOrder) {
    const std::filesystem::path& root = dir;
    FakeV4l2Device device;
    auto node = [this](const char* name) { return make(name, "\n").string(); };
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
