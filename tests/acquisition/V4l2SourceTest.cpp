// A webcam through the fake V4L2 calls: which buffer becomes the frame (by its time, or by
// counting without timestamps), damaged exposure frames, when waiting gives up, what a failing
// device says, and how any camera size becomes the 640 x 480 frame.
#include "support/FakeV4l2Device.h"
#include "support/TempDirTest.h"

#include "acquisition/CaptureDevices.h"
#include "acquisition/FrameBmp.h"
#include "acquisition/Rgb24Conversion.h"
#include "acquisition/V4l2Source.h"
#include "acquisition/WebcamStream.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <limits>

using namespace lumenvale;
using namespace lumenvale::test;

namespace {

constexpr char CameraPath[] = "/dev/video0";
constexpr std::int64_t ReadoutUs = 50'000'000;
constexpr std::int64_t IntervalUs = 100'000;

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
    WebcamStream stream{device};

    V4l2SourceTest() { device.cameras[CameraPath] = FakeV4l2Camera{}; }
    ~V4l2SourceTest() override { stream.close(); }

    V4l2Source source(int skip = 0) {
        V4l2Source::Options s;
        s.path = CameraPath;
        s.name = QStringLiteral("Fake Camera");
        s.skipFrames = skip;
        s.frameTimeoutMs = 3000;
        return V4l2Source(stream, clock, s, [] { return ReadoutUs; });
    }
};

} // namespace

// The exposure is in the first frame that starts at or after the readout write; then the
// frames the user asked to skip. Frames that began before the readout carry no exposure.
TEST_F(V4l2SourceTest, KeepsTheFrameChosenByItsStartOrByCountingWithoutTimestamps) {
    using Stamps = FakeV4l2Camera::Stamps;
    struct Frame {
        std::int64_t startUs; // relative to the readout write
        int seed;
        std::uint32_t flags = 0;
        std::size_t shortBy = 0;
    };
    struct Case {
        const char* what;
        Stamps stamps;
        int skip;
        bool tellsInterval;
        std::vector<Frame> before; // waiting in the driver at the confirmation
        std::vector<Frame> after;
        int keptSeed;      // 0: the acquisition fails
        std::int32_t code; // then with this
    };
    constexpr std::uint32_t Error = V4L2_BUF_FLAG_ERROR;
    const std::vector<Case> cases = {
        {"end-of-frame stamps: exactly at the readout, not 1 us before",
         Stamps::EndOfFrame,
         0,
         true,
         {{-IntervalUs, 1}},
         {{-1, 2}, {0, 3}, {IntervalUs, 4}},
         3,
         AcquireOk},
        {"start-of-exposure stamps",
         Stamps::StartOfExposure,
         0,
         true,
         {{-IntervalUs, 1}},
         {{-1, 2}, {0, 3}, {IntervalUs, 4}},
         3,
         AcquireOk},
        {"two skipped after the exposure frame",
         Stamps::EndOfFrame,
         2,
         true,
         {},
         {{-1, 2}, {5, 3}, {IntervalUs + 5, 4}, {2 * IntervalUs + 5, 5}, {3 * IntervalUs, 6}},
         5,
         AcquireOk},
        {"interval not told: learnt from the stamps",
         Stamps::EndOfFrame,
         0,
         false,
         {{-3 * IntervalUs, 1}, {-2 * IntervalUs, 2}},
         {{-IntervalUs, 3}, {0, 4}},
         4,
         AcquireOk},
        {"no timestamps: waiting frames passed over, then counted",
         Stamps::None,
         0,
         true,
         {{0, 1}, {0, 2}},
         {{0, 3}, {0, 4}},
         3,
         AcquireOk},
        {"no timestamps, two skipped",
         Stamps::None,
         2,
         true,
         {{0, 1}},
         {{0, 2}, {0, 3}, {0, 4}, {0, 5}},
         4,
         AcquireOk},
        {"a skipped frame may be broken",
         Stamps::EndOfFrame,
         1,
         true,
         {},
         {{0, 2, Error}, {IntervalUs, 3}},
         3,
         AcquireOk},
        {"error-flagged exposure frame: no later frame instead",
         Stamps::EndOfFrame,
         0,
         true,
         {},
         {{-1, 2}, {0, 3, Error}, {IntervalUs, 4}},
         0,
         AcquireDamagedFrame},
        {"short exposure frame",
         Stamps::EndOfFrame,
         0,
         true,
         {},
         {{0, 3, 0, 9}, {IntervalUs, 4}},
         0,
         AcquireDamagedFrame},
        {"no timestamps, damaged kept frame",
         Stamps::None,
         0,
         true,
         {},
         {{0, 3, Error}, {0, 4}},
         0,
         AcquireDamagedFrame},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        device.cameras[CameraPath].stamps = c.stamps;
        device.cameras[CameraPath].tellsInterval = c.tellsInterval;
        V4l2Source webcam = source(c.skip);
        ASSERT_FALSE(webcam.start());
        for (const Frame& f : c.before) {
            device.deliverStarted(ReadoutUs + f.startUs, f.seed, f.flags, f.shortBy);
            if (&f != &c.before.back()) {
                webcam.poll(); // seen as live pictures
            }
        }
        webcam.confirm();
        for (const Frame& f : c.after) {
            device.deliverStarted(ReadoutUs + f.startUs, f.seed, f.flags, f.shortBy);
        }
        const SourcePoll poll = webcam.poll();
        if (c.keptSeed == 0) {
            ASSERT_EQ(poll.state, SourcePoll::State::Failed);
            EXPECT_EQ(poll.failure.code, c.code);
            EXPECT_TRUE(poll.failure.reason.contains(QLatin1String("damaged")));
        } else {
            ASSERT_EQ(poll.state, SourcePoll::State::Captured) << poll.failure.reason.toStdString();
            EXPECT_TRUE(showsPicture(*poll.frame, c.keptSeed));
        }
        webcam.stop();
        stream.close();
    }
}

TEST_F(V4l2SourceTest, PreviewShowsWhatArrivesBeforeTheConfirmation) {
    V4l2Source webcam = source();
    ASSERT_FALSE(webcam.start());
    device.deliver(7);
    SourcePoll poll = webcam.poll();
    EXPECT_EQ(poll.state, SourcePoll::State::Waiting);
    ASSERT_TRUE(poll.preview);
    EXPECT_TRUE(showsPicture(*poll.preview, 7));
}

TEST_F(V4l2SourceTest, ACameraThatStopsDeliveringFailsWhenTheTimeIsUpAlsoAcrossTheClockWrap) {
    for (const std::int32_t start : {5000, std::numeric_limits<std::int32_t>::max() - 1000}) {
        SCOPED_TRACE(start);
        clock.now = start;
        V4l2Source webcam = source(1);
        ASSERT_FALSE(webcam.start());
        webcam.confirm();
        device.deliverStarted(ReadoutUs, 2); // the skipped one; then nothing more
        clock.now = TickAdd(clock.now, 2999);
        EXPECT_EQ(webcam.poll().state, SourcePoll::State::Waiting);
        clock.now = TickAdd(clock.now, 1);
        const SourcePoll poll = webcam.poll();
        ASSERT_EQ(poll.state, SourcePoll::State::Failed);
        EXPECT_EQ(poll.failure.code, AcquireNoFrameInTime);
        EXPECT_TRUE(poll.failure.reason.contains(QStringLiteral("3 s")));
    }
}

// 640 x 480 when the camera has it, else the 4:3 size nearest in scale, else the nearest size.
TEST_F(V4l2SourceTest, TheCameraSizeIsChosenForTheFrame) {
    struct Case {
        std::vector<std::pair<int, int>> offered;
        std::size_t padding;
        int width, height; // what must be chosen
        bool exact;        // the frame is the picture pixel for pixel (or doubled)
    };
    const std::vector<Case> cases = {
        {{{320, 240}, {640, 480}, {1280, 720}}, 0, 640, 480, true},   // taken as it is
        {{{640, 480}}, 12, 640, 480, true},                           // padded rows
        {{{320, 240}}, 0, 320, 240, true},                            // doubled
        {{{1280, 960}, {160, 120}}, 4, 1280, 960, false},             // halved, not blown up
        {{{352, 288}, {800, 600}, {1920, 1080}}, 0, 800, 600, false}, // the nearest 4:3
        {{{1280, 720}, {320, 240}}, 0, 320, 240, true},               // 4:3 before nearer 16:9
        {{{176, 144}}, 0, 176, 144, false},                           // no 4:3 at all
        {{{320, 240}, {1280, 960}}, 0, 1280, 960, false},             // a tie goes to the larger
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        device.cameras[CameraPath].sizes = c.offered;
        device.cameras[CameraPath].rowPadding = c.padding;
        V4l2Source webcam = source();
        ASSERT_FALSE(webcam.start());
        EXPECT_EQ(device.width(), c.width);
        EXPECT_EQ(device.height(), c.height);
        webcam.confirm();
        device.deliverStarted(ReadoutUs, 9);
        const SourcePoll poll = webcam.poll();
        ASSERT_EQ(poll.state, SourcePoll::State::Captured);
        if (c.exact) {
            EXPECT_TRUE(showsPicture(*poll.frame, 9, c.width, c.height));
        }
        webcam.stop();
        stream.close();
    }
}

// Other sizes are cropped to their centre 4:3, then averaged over the area each frame pixel
// covers: nothing is squeezed, and fine detail becomes its mean instead of aliasing.
TEST_F(V4l2SourceTest, OtherSizesAreCroppedTo4By3AndAreaAveraged) {
    struct Case {
        const char* what;
        int width, height;
        std::function<std::uint8_t(int x, int y)> level; // grey level of picture pixel (x, y)
        std::uint8_t expected;                           // every frame pixel
    };
    const std::vector<Case> cases = {
        {"16:9: the sides are cut off", 1280, 720,
         [](int x, int) { return std::uint8_t(x < 160 || x >= 1120 ? 250 : 80); }, 80},
        {"5:4: top and bottom are cut off", 1280, 1024,
         [](int, int y) { return std::uint8_t(y < 32 || y >= 992 ? 250 : 80); }, 80},
        {"a fine checker is averaged", 1280, 960,
         [](int x, int y) { return std::uint8_t((x + y) % 2 == 0 ? 0 : 200); }, 100},
        {"uneven scale keeps flat areas flat", 1000, 750, [](int, int) { return 77; }, 77},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> rgb(std::size_t(c.width) * c.height * 3);
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                std::fill_n(rgb.begin() + (std::ptrdiff_t(y) * c.width + x) * 3, 3, c.level(x, y));
            }
        }
        AcquiredFrame frame;
        ASSERT_TRUE(
            ConvertRgb24ToFrame(rgb.data(), c.width, c.height, std::size_t(c.width) * 3, frame));
        const auto [lo, hi] = std::minmax_element(frame.pixels().begin(), frame.pixels().end());
        EXPECT_EQ(*lo, c.expected);
        EXPECT_EQ(*hi, c.expected);
    }
}

TEST_F(V4l2SourceTest, TheFrameFileIsTheBottomUpPictureBehindA54ByteHeader) {
    V4l2Source webcam = source();
    ASSERT_FALSE(webcam.start());
    webcam.confirm();
    device.deliverStarted(ReadoutUs, 9);
    const SourcePoll poll = webcam.poll();
    ASSERT_EQ(poll.state, SourcePoll::State::Captured);
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
        V4l2Source webcam = source();
        const auto failure = webcam.start();
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
    device.cameras[node("video10")].sizes = {{1280, 720}, {320, 240}};
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
    EXPECT_TRUE(found[0].has640x480);
    EXPECT_FALSE(found[2].has640x480);
    EXPECT_EQ(found[1].path, (root / "video2").string());
    EXPECT_FALSE(found[1].accessible);
    EXPECT_EQ(found[2].name, QStringLiteral("Second Camera"));
    EXPECT_EQ(device.openDevices(), 0);

    EXPECT_TRUE(FindCaptureDevices(device, root / "missing").empty());
}
