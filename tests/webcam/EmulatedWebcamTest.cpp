// The emulated webcam as the program meets it, through the real libv4l2 (conversion off) and
// libv4lconvert: every format converts to the levels the camera lines call for, the exposure
// frame is the first to start after the readout write, damage shows, and unplugging is seen.
#include "support/emulated_webcam/EmulatedWebcamControl.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libv4l2.h>
#include <libv4lconvert.h>
#include <linux/ppdev.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumenvale::test {
namespace {

constexpr int Width = 640;
constexpr int Height = 480;
constexpr int Dark = 16;
constexpr std::int64_t WaitUs = 10'000'000; // a frame that takes longer is missing

std::int64_t nowUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

int levelFor(std::int64_t lengthUs) {
    return std::min(235, Dark + int(lengthUs / 5000));
}

struct Frame {
    v4l2_buffer info{};
    std::vector<std::uint8_t> bytes; // bytesused of them
    std::int64_t stampUs = 0;
};

// /dev/video0 opened as the program opens it, streaming 640 x 480 into four mapped buffers.
class Webcam {
public:
    ~Webcam() {
        if (fd_ < 0) {
            return;
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        v4l2_ioctl(fd_, VIDIOC_STREAMOFF, &type);
        for (void* map : maps_) {
            v4l2_munmap(map, length_);
        }
        v4l2_requestbuffers none{0, V4L2_BUF_TYPE_VIDEO_CAPTURE, V4L2_MEMORY_MMAP, 0, 0, {}};
        v4l2_ioctl(fd_, VIDIOC_REQBUFS, &none);
        if (convert_ != nullptr) {
            v4lconvert_destroy(convert_);
        }
        v4l2_close(fd_);
    }

    ::testing::AssertionResult start(std::uint32_t fourcc) {
        const int raw = ::open("/dev/video0", O_RDWR | O_NONBLOCK);
        if (raw < 0 || v4l2_fd_open(raw, V4L2_DISABLE_CONVERSION) != raw) {
            return ::testing::AssertionFailure() << "open: " << std::strerror(errno);
        }
        fd_ = raw;
        format_.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        format_.fmt.pix = {};
        format_.fmt.pix.width = Width;
        format_.fmt.pix.height = Height;
        format_.fmt.pix.pixelformat = fourcc;
        v4l2_requestbuffers request{4, V4L2_BUF_TYPE_VIDEO_CAPTURE, V4L2_MEMORY_MMAP, 0, 0, {}};
        if (v4l2_ioctl(fd_, VIDIOC_S_FMT, &format_) != 0 || format_.fmt.pix.pixelformat != fourcc ||
            v4l2_ioctl(fd_, VIDIOC_REQBUFS, &request) != 0) {
            return ::testing::AssertionFailure() << "format: " << std::strerror(errno);
        }
        for (std::uint32_t i = 0; i < request.count; ++i) {
            v4l2_buffer buffer = empty();
            buffer.index = i;
            if (v4l2_ioctl(fd_, VIDIOC_QUERYBUF, &buffer) != 0) {
                return ::testing::AssertionFailure() << "querybuf: " << std::strerror(errno);
            }
            length_ = buffer.length;
            // libv4l2 maps through syscall(SYS_mmap); the C library's mmap must work as well.
            void* map =
                i % 2 == 0
                    ? v4l2_mmap(nullptr, length_, PROT_READ, MAP_SHARED, fd_, buffer.m.offset)
                    : ::mmap(nullptr, length_, PROT_READ, MAP_SHARED, fd_, buffer.m.offset);
            if (map == MAP_FAILED || v4l2_ioctl(fd_, VIDIOC_QBUF, &buffer) != 0) {
                return ::testing::AssertionFailure() << "map: " << std::strerror(errno);
            }
            maps_.push_back(map);
        }
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (v4l2_ioctl(fd_, VIDIOC_G_PARM, &parm) != 0) {
            return ::testing::AssertionFailure() << "g_parm: " << std::strerror(errno);
        }
        streamOn_.first = nowUs();
        if (v4l2_ioctl(fd_, VIDIOC_STREAMON, &type) != 0) {
            return ::testing::AssertionFailure() << "streamon: " << std::strerror(errno);
        }
        streamOn_.second = nowUs();
        const v4l2_fract& perFrame = parm.parm.capture.timeperframe;
        intervalUs_ = std::int64_t(perFrame.numerator) * 1'000'000 / perFrame.denominator;
        convert_ = v4lconvert_create(fd_);
        return ::testing::AssertionSuccess();
    }

    // The next frame, copied out and its buffer queued again; nothing when none came in time
    // or the dequeue failed (errno tells).
    std::optional<Frame> next() {
        pollfd wait{fd_, POLLIN, 0};
        if (::poll(&wait, 1, int(WaitUs / 1000)) != 1) {
            errno = ETIMEDOUT;
            return std::nullopt;
        }
        Frame frame;
        frame.info = empty();
        if (v4l2_ioctl(fd_, VIDIOC_DQBUF, &frame.info) != 0) {
            return std::nullopt;
        }
        const auto* data = static_cast<const std::uint8_t*>(maps_[frame.info.index]);
        frame.bytes.assign(data, data + frame.info.bytesused);
        frame.stampUs =
            std::int64_t(frame.info.timestamp.tv_sec) * 1'000'000 + frame.info.timestamp.tv_usec;
        v4l2_ioctl(fd_, VIDIOC_QBUF, &frame.info);
        return frame;
    }

    // Frames up to the first that starts at or after `us`; the one before it comes back too.
    std::optional<Frame> firstStartingAfter(std::int64_t us, std::optional<Frame>& before) {
        for (std::optional<Frame> frame = next(); frame; frame = next()) {
            if (frame->stampUs - intervalUs_ >= us) {
                return frame;
            }
            before = frame;
        }
        return std::nullopt;
    }

    // RGB24 through libv4lconvert, or nothing when it refuses the frame. The source layout is
    // the driver's S_FMT answer: for a uvcvideo camera v4lconvert_try_format does not ask the
    // driver and hands back bytesperline 0, with which YUYV rows come out wrong and Bayer
    // conversion crashes.
    std::optional<std::vector<std::uint8_t>> rgb(const Frame& frame) {
        v4l2_format want = format_;
        want.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
        want.fmt.pix.bytesperline = Width * 3;
        want.fmt.pix.sizeimage = Width * Height * 3;
        std::vector<std::uint8_t> in = frame.bytes; // the converter's input is not const
        std::vector<std::uint8_t> out(want.fmt.pix.sizeimage);
        const int size = v4lconvert_convert(convert_, &format_, &want, in.data(), int(in.size()),
                                            out.data(), int(out.size()));
        if (size != int(out.size())) {
            return std::nullopt;
        }
        return out;
    }

    int fd() const { return fd_; }
    std::int64_t interval() const { return intervalUs_; }
    // When the STREAMON call was made and when it returned.
    std::pair<std::int64_t, std::int64_t> streamOn() const { return streamOn_; }

private:
    static v4l2_buffer empty() {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        return buffer;
    }

    int fd_ = -1;
    v4l2_format format_{};
    std::vector<void*> maps_;
    std::size_t length_ = 0;
    std::int64_t intervalUs_ = 0;
    std::pair<std::int64_t, std::int64_t> streamOn_;
    v4lconvert_data* convert_ = nullptr;
};

// /dev/parport0 as the program drives it; each write is bracketed by the clock.
class Port {
public:
    Port() : fd_(::open("/dev/parport0", O_RDWR)) {
        EXPECT_EQ(::ioctl(fd_, PPEXCL), 0);
        EXPECT_EQ(::ioctl(fd_, PPCLAIM), 0);
    }
    ~Port() {
        ::ioctl(fd_, PPRELEASE);
        ::close(fd_);
    }
    struct Written {
        std::int64_t before = 0;
        std::int64_t after = 0;
    };
    Written write(unsigned char value) {
        Written at{nowUs(), 0};
        EXPECT_EQ(::ioctl(fd_, PPWDATA, &value), 0);
        at.after = nowUs();
        return at;
    }

private:
    int fd_;
};

// The levels an exposure from `from` to `to` can show, given when the writes were made.
std::pair<int, int> levelsBetween(Port::Written from, Port::Written to) {
    return {levelFor(to.before - from.after), levelFor(to.after - from.before)};
}

// Every pixel of the even rows within `even`, of the odd rows within `odd`, all channels alike;
// rows counted from the bottom line, as the frame file stores them.
::testing::AssertionResult rowsAre(const std::vector<std::uint8_t>& rgb, std::pair<int, int> even,
                                   std::pair<int, int> odd, int tolerance) {
    for (int y = 0; y < Height; ++y) {
        const auto [low, high] = (Height - 1 - y) % 2 == 0 ? even : odd;
        for (int x = 0; x < Width * 3; ++x) {
            const int value = rgb[std::size_t(y) * Width * 3 + std::size_t(x)];
            if (value < low - tolerance || value > high + tolerance) {
                return ::testing::AssertionFailure() << "row " << y << " byte " << x << " is "
                                                     << value << ", not " << low << ".." << high;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// The frame before the readout and the exposure frame itself, the exposure ending `lengthUs`
// after the exposure state was written.
struct Readout {
    std::optional<Frame> before;
    std::optional<Frame> exposed;
    Port::Written start;
    Port::Written end;
};

Readout expose(Webcam& camera, Port& port, unsigned char readout, std::int64_t lengthUs,
               std::optional<Port::Written> start = std::nullopt) {
    Readout result;
    if (!start) {
        // The program's frame start: the pulse ends in the readout state, which reads out
        // nothing, then the exposure state.
        port.write(0x27);
        port.write(0x37);
        port.write(0x14);
    }
    result.start = start ? *start : port.write(0x34);
    // The camera keeps streaming meanwhile; its frames pace the wait.
    while (nowUs() < result.start.after + lengthUs && camera.next()) {
    }
    result.end = port.write(readout);
    result.exposed = camera.firstStartingAfter(result.end.before, result.before);
    return result;
}

class EmulatedWebcamTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!EmulatedWebcamPreloaded()) {
            GTEST_SKIP() << "the emulated webcam is not preloaded";
        }
    }
};

struct FormatCase {
    const char* name;
    std::uint32_t fourcc;
    int tolerance;  // conversion error allowed
    bool keepsRows; // whether the even/odd rows survive the conversion apart
};

class FormatTest : public EmulatedWebcamTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatTest, DarkVideoAndABinnedExposureConvertToTheirLevels) {
    const FormatCase& format = GetParam();
    ASSERT_TRUE(ConfigureEmulatedWebcam(std::string("FORMATS=") + format.name +
                                        ";STREAMON_MS=0;FIRST_FRAME_MS=0;FPS=25"));
    Webcam camera;
    ASSERT_TRUE(camera.start(format.fourcc));
    Port port;
    const Readout binned = expose(camera, port, 0x37, 200'000);
    ASSERT_TRUE(binned.before && binned.exposed) << std::strerror(errno);

    const auto dark = camera.rgb(*binned.before);
    ASSERT_TRUE(dark);
    EXPECT_TRUE(rowsAre(*dark, {Dark, Dark}, {Dark, Dark}, format.tolerance));
    const auto bright = camera.rgb(*binned.exposed);
    ASSERT_TRUE(bright);
    const std::pair<int, int> level = levelsBetween(binned.start, binned.end);
    if (format.keepsRows) {
        EXPECT_TRUE(rowsAre(*bright, level, {Dark, Dark}, format.tolerance));
    } else {
        // Demosaicing mixes each row with its neighbours: the picture lies between the levels.
        EXPECT_TRUE(rowsAre(*bright, {Dark, level.second}, {Dark, level.second}, 0));
        EXPECT_FALSE(rowsAre(*bright, {Dark, Dark}, {Dark, Dark}, format.tolerance));
    }
    EXPECT_EQ(EmulatedWebcamCount("exposure_frames"), 1);
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatTest,
                         ::testing::Values(FormatCase{"YUYV", V4L2_PIX_FMT_YUYV, 0, true},
                                           FormatCase{"MJPG", V4L2_PIX_FMT_MJPEG, 2, true},
                                           FormatCase{"GREY", V4L2_PIX_FMT_GREY, 0, true},
                                           FormatCase{"BA81", V4L2_PIX_FMT_SBGGR8, 2, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EmulatedWebcamTest, HiresFieldsAreTheFirstFramesToStartAfterTheirReadouts) {
    // The camera's own timing: a slow STREAMON, the first frame later, 10 frames a second.
    ASSERT_TRUE(ConfigureEmulatedWebcam("FORMATS=YUYV"));
    Webcam camera;
    ASSERT_TRUE(camera.start(V4L2_PIX_FMT_YUYV));
    EXPECT_EQ(camera.interval(), 100'000);
    Port port;
    const Readout first = expose(camera, port, 0x35, 1'000'000);
    const Readout second = expose(camera, port, 0x37, 0, first.start);

    for (const Readout* field : {&first, &second}) {
        ASSERT_TRUE(field->before && field->exposed) << std::strerror(errno);
        // The frame before it started before the write: the write falls between the two.
        EXPECT_LT(field->before->stampUs - camera.interval(), field->end.after);
        EXPECT_GT(field->exposed->info.sequence, field->before->info.sequence);
        const auto dark = camera.rgb(*field->before);
        ASSERT_TRUE(dark);
        EXPECT_TRUE(rowsAre(*dark, {Dark, Dark}, {Dark, Dark}, 0));
    }
    const auto firstField = camera.rgb(*first.exposed);
    const auto secondField = camera.rgb(*second.exposed);
    ASSERT_TRUE(firstField && secondField);
    // Both fields were exposed from the same exposure-state write, and come in the same rows.
    EXPECT_TRUE(rowsAre(*firstField, levelsBetween(first.start, first.end), {Dark, Dark}, 0));
    EXPECT_TRUE(rowsAre(*secondField, levelsBetween(first.start, second.end), {Dark, Dark}, 0));
    EXPECT_EQ(EmulatedWebcamCount("streamon"), 1);
    EXPECT_EQ(EmulatedWebcamCount("readouts"), 2);
}

struct TimestampCase {
    const char* name;
    std::uint32_t flags;      // timestamp type and source
    std::int64_t afterReturn; // of the first frame's stamp after STREAMON returned; -1: none
};

class TimestampTest : public EmulatedWebcamTest,
                      public ::testing::WithParamInterface<TimestampCase> {};

TEST_P(TimestampTest, TheFirstFrameIsStampedFromTheReturnOfStreamOn) {
    const TimestampCase& stamps = GetParam();
    ASSERT_TRUE(ConfigureEmulatedWebcam(std::string("TIMESTAMPS=") + stamps.name +
                                        ";STREAMON_MS=0;FIRST_FRAME_MS=300;FPS=10"));
    Webcam camera;
    ASSERT_TRUE(camera.start(V4L2_PIX_FMT_YUYV));
    const std::optional<Frame> first = camera.next();
    ASSERT_TRUE(first) << std::strerror(errno);
    EXPECT_EQ(first->info.sequence, 0U);
    EXPECT_EQ(first->info.flags & (V4L2_BUF_FLAG_TIMESTAMP_MASK | V4L2_BUF_FLAG_TSTAMP_SRC_MASK),
              stamps.flags);
    if (stamps.afterReturn < 0) {
        EXPECT_EQ(first->stampUs, 0);
        return;
    }
    // The camera read its clock between the call and the return.
    const auto [called, returned] = camera.streamOn();
    EXPECT_GE(first->stampUs - stamps.afterReturn, called);
    EXPECT_LE(first->stampUs - stamps.afterReturn, returned);
}

INSTANTIATE_TEST_SUITE_P(
    Timestamps, TimestampTest,
    ::testing::Values(
        TimestampCase{"eof", V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_EOF,
                      400'000},
        TimestampCase{"soe", V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_SOE,
                      300'000},
        TimestampCase{"none", V4L2_BUF_FLAG_TIMESTAMP_UNKNOWN, -1}),
    [](const auto& info) { return std::string(info.param.name); });

struct DamageCase {
    const char* name;
    const char* settings;
    std::uint32_t fourcc;
    bool errorFlag;
    bool fullSize;
    bool converts;
    bool showsExposure; // whether the converted picture is still the exposure's
};

class DamageTest : public EmulatedWebcamTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamageTest, OnlyTheExposureFrameIsDamaged) {
    const DamageCase& damage = GetParam();
    ASSERT_TRUE(ConfigureEmulatedWebcam(std::string(damage.settings) +
                                        ";STREAMON_MS=0;FIRST_FRAME_MS=0;FPS=25"));
    Webcam camera;
    ASSERT_TRUE(camera.start(damage.fourcc));
    Port port;
    Readout readout = expose(camera, port, 0x37, 100'000);
    std::optional<Frame> after = camera.next();
    ASSERT_TRUE(readout.before && readout.exposed && after) << std::strerror(errno);
    const int tolerance = damage.fourcc == V4L2_PIX_FMT_MJPEG ? 2 : 0;

    for (const Frame* whole : {&*readout.before, &*after}) {
        EXPECT_EQ(whole->info.flags & V4L2_BUF_FLAG_ERROR, 0U);
        const auto dark = camera.rgb(*whole);
        ASSERT_TRUE(dark);
        EXPECT_TRUE(rowsAre(*dark, {Dark, Dark}, {Dark, Dark}, tolerance));
    }
    const Frame& damaged = *readout.exposed;
    EXPECT_EQ((damaged.info.flags & V4L2_BUF_FLAG_ERROR) != 0, damage.errorFlag);
    EXPECT_EQ(damaged.bytes.size() == after->bytes.size(), damage.fullSize);
    const auto picture = camera.rgb(damaged);
    ASSERT_EQ(picture.has_value(), damage.converts);
    if (picture) {
        EXPECT_EQ(bool(rowsAre(*picture, levelsBetween(readout.start, readout.end), {Dark, Dark},
                               tolerance)),
                  damage.showsExposure);
    }
    EXPECT_EQ(EmulatedWebcamCount("damaged"), 1);
}

// libv4lconvert refuses a short YUYV frame but decodes a truncated JPEG without complaint,
// padding what is missing: only the picture shows it.
INSTANTIATE_TEST_SUITE_P(
    Damage, DamageTest,
    ::testing::Values(DamageCase{"ErrorFlag", "DAMAGE=error@exposure:1", V4L2_PIX_FMT_YUYV, true,
                                 true, true, true},
                      DamageCase{"ShortYuyv", "DAMAGE=short@exposure:1", V4L2_PIX_FMT_YUYV, false,
                                 false, false, false},
                      DamageCase{"TruncatedMjpeg", "FORMATS=MJPG;DAMAGE=truncated@exposure:1",
                                 V4L2_PIX_FMT_MJPEG, false, false, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

int videoNodesListed() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/dev")) {
        count += entry.path().filename() == "video0" ? 1 : 0;
    }
    return count;
}

TEST_F(EmulatedWebcamTest, AnUnpluggedCameraFailsWithNoDeviceAndLeavesDev) {
    ASSERT_TRUE(ConfigureEmulatedWebcam("UNPLUG=readout:1;STREAMON_MS=0;FIRST_FRAME_MS=0"));
    EXPECT_EQ(videoNodesListed(), 1);
    {
        Webcam camera;
        ASSERT_TRUE(camera.start(V4L2_PIX_FMT_YUYV));
        EXPECT_FALSE(ConfigureEmulatedWebcam("")) << "reconfigured while streaming";
        Port port;
        const Readout readout = expose(camera, port, 0x37, 0);
        // The poll in next() returns at once: the file turned readable when the camera left.
        EXPECT_FALSE(readout.exposed);
        EXPECT_EQ(errno, ENODEV);
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        EXPECT_EQ(v4l2_ioctl(camera.fd(), VIDIOC_QBUF, &buffer), -1);
        EXPECT_EQ(errno, ENODEV);
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        EXPECT_EQ(v4l2_ioctl(camera.fd(), VIDIOC_STREAMON, &type), -1);
        EXPECT_EQ(errno, ENODEV);
        EXPECT_EQ(::open("/dev/video0", O_RDWR), -1);
        EXPECT_EQ(errno, ENOENT);
        EXPECT_EQ(videoNodesListed(), 0);
    }
    ASSERT_TRUE(ConfigureEmulatedWebcam(""));
    EXPECT_EQ(videoNodesListed(), 1);
}

} // namespace
} // namespace lumenvale::test
