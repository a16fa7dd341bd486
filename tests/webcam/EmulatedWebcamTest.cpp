// The emulated webcam as the program meets it, through the real libv4l2 (conversion off) and
// libv4lconvert: every format converts to the levels the camera lines call for, the exposure
// frame is the first to start after the readout write, damage shows, unplugging is seen, the
// controls answer as the UVC driver's do and the frame interval set is the one delivered.
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
#include <map>
#include <optional>
#include <string>
#include <utility>
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

// /dev/video0 opened as the program opens it: libv4l2 on the file, conversion off. -1 and errno
// when it fails.
int openVideo(int flags) {
    const int raw = ::open("/dev/video0", flags);
    if (raw >= 0 && v4l2_fd_open(raw, V4L2_DISABLE_CONVERSION) != raw) {
        ::close(raw);
        return -1;
    }
    return raw;
}

// /dev/video0 streaming 640 x 480 into four mapped buffers.
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
        fd_ = openVideo(O_RDWR | O_NONBLOCK);
        if (fd_ < 0) {
            return ::testing::AssertionFailure() << "open: " << std::strerror(errno);
        }
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

struct ControlCase {
    const char* name;
    unsigned long request; // S_CTRL and G_CTRL take the last control alone
    std::vector<std::pair<std::uint32_t, std::int32_t>> controls;
    int error;                     // errno; 0: answered
    std::uint32_t errorIndex;      // the extended calls' error_idx
    std::int32_t answered;         // the last control's value in the answer, when answered
    std::optional<long long> kept; // the camera's value of the last control afterwards
    int sets;                      // values the camera took
    const char* settings;          // the camera's, besides the defaults
};

// A row: name, call, controls (id, value), errno, error_idx, value answered, value kept, values
// taken[, settings].
ControlCase Row(const char* name, unsigned long request,
                std::vector<std::pair<std::uint32_t, std::int32_t>> controls, int error,
                std::uint32_t errorIndex, std::int32_t answered, std::optional<long long> kept,
                int sets, const char* settings = "") {
    return {name, request, std::move(controls), error, errorIndex, answered, kept, sets, settings};
}

class ControlTest : public EmulatedWebcamTest, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(ControlTest, AnswersAsTheUvcDriver) {
    const ControlCase& row = GetParam();
    ASSERT_TRUE(ConfigureEmulatedWebcam(row.settings));
    const int fd = openVideo(O_RDWR);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    std::vector<v4l2_ext_control> controls;
    for (const auto& [id, value] : row.controls) {
        v4l2_ext_control control{};
        control.id = id;
        control.value = value;
        controls.push_back(control);
    }
    int result = 0;
    if (row.request == VIDIOC_G_CTRL || row.request == VIDIOC_S_CTRL) {
        v4l2_control one{controls.back().id, controls.back().value};
        result = v4l2_ioctl(fd, row.request, &one);
        controls.back().value = one.value;
    } else {
        v4l2_ext_controls call{};
        call.which = V4L2_CTRL_WHICH_CUR_VAL;
        call.count = std::uint32_t(controls.size());
        call.controls = controls.data();
        result = v4l2_ioctl(fd, row.request, &call);
        EXPECT_EQ(call.error_idx, row.errorIndex);
    }
    const int error = result == 0 ? 0 : errno;
    v4l2_close(fd);
    EXPECT_EQ(error, row.error) << std::strerror(error);
    if (row.error == 0) {
        EXPECT_EQ(controls.back().value, row.answered);
    }
    EXPECT_EQ(EmulatedWebcamControlValue(controls.back().id), row.kept);
    EXPECT_EQ(EmulatedWebcamCount("control_sets"), row.sets);
}

INSTANTIATE_TEST_SUITE_P(
    Controls, ControlTest,
    ::testing::Values(
        Row("IntegerTaken", VIDIOC_S_CTRL, {{V4L2_CID_GAIN, 40}}, 0, 0, 40, 40, 1),
        Row("ReadBack", VIDIOC_G_CTRL, {{V4L2_CID_CONTRAST, 0}}, 0, 0, 32, 32, 0),
        Row("IntegerClamped", VIDIOC_S_EXT_CTRLS, {{V4L2_CID_GAIN, 300}}, 0, 0, 100, 100, 1),
        Row("Tried", VIDIOC_TRY_EXT_CTRLS, {{V4L2_CID_BRIGHTNESS, -99}}, 0, 0, -64, 0, 0),
        Row("Boolean", VIDIOC_S_CTRL, {{V4L2_CID_AUTO_WHITE_BALANCE, 5}}, 0, 0, 1, 1, 1),
        Row("MenuOutOfRange", VIDIOC_S_EXT_CTRLS, {{V4L2_CID_POWER_LINE_FREQUENCY, 3}}, ERANGE, 1,
            0, 1, 0),
        Row("MenuEntryLeftOut", VIDIOC_S_EXT_CTRLS,
            {{V4L2_CID_BRIGHTNESS, 10}, {V4L2_CID_EXPOSURE_AUTO, 2}}, EINVAL, 2, 0, 3, 0),
        Row("TryPointsAtTheFault", VIDIOC_TRY_EXT_CTRLS,
            {{V4L2_CID_GAIN, 1}, {V4L2_CID_EXPOSURE_AUTO, 4}}, ERANGE, 1, 0, 3, 0),
        Row("IntegerMenu", VIDIOC_S_CTRL, {{V4L2_CID_AUTO_EXPOSURE_BIAS, 4}}, 0, 0, 4, 4, 1),
        Row("ManualWhileAutomatic", VIDIOC_S_CTRL, {{V4L2_CID_EXPOSURE_ABSOLUTE, 500}}, EACCES, 0,
            0, 250, 0),
        Row("ManualWithItsMode", VIDIOC_S_EXT_CTRLS,
            {{V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL}, {V4L2_CID_EXPOSURE_ABSOLUTE, 5000}}, 0,
            0, 2047, 2047, 2),
        Row("ReadOnly", VIDIOC_S_CTRL, {{V4L2_CID_PRIVACY, 1}}, EACCES, 0, 0, 0, 0),
        Row("ButtonNotRead", VIDIOC_G_CTRL, {{V4L2_CID_PAN_RESET, 0}}, EACCES, 0, 0, 0, 0),
        Row("ButtonPressed", VIDIOC_S_CTRL, {{V4L2_CID_PAN_RESET, 1}}, 0, 0, 1, 0, 1),
        Row("ClassNotRead", VIDIOC_G_CTRL, {{V4L2_CID_CAMERA_CLASS, 0}}, EACCES, 0, 0, std::nullopt,
            0),
        Row("UnknownSetsNothing", VIDIOC_S_EXT_CTRLS, {{V4L2_CID_GAIN, 1}, {V4L2_CID_HUE, 0}},
            EINVAL, 2, 0, std::nullopt, 0),
        Row("UnknownTried", VIDIOC_TRY_EXT_CTRLS, {{V4L2_CID_GAIN, 1}, {V4L2_CID_HUE, 0}}, EINVAL,
            1, 0, std::nullopt, 0),
        // The camera took the values before the one it refused.
        Row("Refused", VIDIOC_S_EXT_CTRLS, {{V4L2_CID_BRIGHTNESS, 10}, {V4L2_CID_GAIN, 10}}, EIO, 1,
            0, 0, 1, "REFUSE=gain")),
    [](const auto& info) { return std::string(info.param.name); });

// The controls as the program lists them: QUERY_EXT_CTRL walking with NEXT_CTRL.
std::vector<v4l2_query_ext_ctrl> listControls(int fd) {
    std::vector<v4l2_query_ext_ctrl> listed;
    v4l2_query_ext_ctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (listed.size() < 100 && v4l2_ioctl(fd, VIDIOC_QUERY_EXT_CTRL, &query) == 0) {
        listed.push_back(query);
        query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return listed;
}

std::map<std::uint32_t, std::uint32_t> flagsOf(const std::vector<v4l2_query_ext_ctrl>& listed) {
    std::map<std::uint32_t, std::uint32_t> flags;
    for (const v4l2_query_ext_ctrl& control : listed) {
        flags[control.id] = control.flags;
    }
    return flags;
}

// The menu entries' names or numbers ("-" where the camera has none), indices 0..count-1.
std::vector<std::string> menuOf(int fd, std::uint32_t id, std::uint32_t count) {
    std::vector<std::string> entries;
    for (std::uint32_t index = 0; index < count; ++index) {
        v4l2_querymenu entry{};
        entry.id = id;
        entry.index = index;
        if (v4l2_ioctl(fd, VIDIOC_QUERYMENU, &entry) != 0) {
            entries.emplace_back(errno == EINVAL ? "-" : std::strerror(errno));
        } else if (id == V4L2_CID_AUTO_EXPOSURE_BIAS) {
            entries.push_back(std::to_string(entry.value));
        } else {
            entries.emplace_back(reinterpret_cast<const char*>(entry.name));
        }
    }
    return entries;
}

TEST_F(EmulatedWebcamTest, ControlsAreListedInIdOrderAndFollowTheAutomaticModes) {
    ASSERT_TRUE(ConfigureEmulatedWebcam(""));
    int fd = openVideo(O_RDWR);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    constexpr std::uint32_t Class = V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY;
    std::map<std::uint32_t, std::uint32_t> flags{
        {V4L2_CID_USER_CLASS, Class},
        {V4L2_CID_BRIGHTNESS, 0},
        {V4L2_CID_CONTRAST, 0},
        {V4L2_CID_AUTO_WHITE_BALANCE, 0},
        {V4L2_CID_GAIN, 0},
        {V4L2_CID_POWER_LINE_FREQUENCY, 0},
        {V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CTRL_FLAG_INACTIVE},
        {V4L2_CID_BACKLIGHT_COMPENSATION, 0},
        {V4L2_CID_CAMERA_CLASS, Class},
        {V4L2_CID_EXPOSURE_AUTO, 0},
        {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_FLAG_INACTIVE},
        {V4L2_CID_EXPOSURE_AUTO_PRIORITY, 0},
        {V4L2_CID_PAN_RESET, V4L2_CTRL_FLAG_WRITE_ONLY},
        {V4L2_CID_PRIVACY, V4L2_CTRL_FLAG_READ_ONLY},
        {V4L2_CID_AUTO_EXPOSURE_BIAS, 0}};
    const std::vector<v4l2_query_ext_ctrl> listed = listControls(fd);
    ASSERT_EQ(listed.size(), flags.size());
    for (std::size_t i = 1; i < listed.size(); ++i) {
        EXPECT_LT(listed[i - 1].id, listed[i].id);
    }
    EXPECT_EQ(flagsOf(listed), flags);
    EXPECT_EQ(listed[0].type, V4L2_CTRL_TYPE_CTRL_CLASS);
    EXPECT_STREQ(listed[0].name, "User Controls");

    // The old query, as libv4l2's own controls use it.
    v4l2_queryctrl exposure{};
    exposure.id = V4L2_CID_EXPOSURE_ABSOLUTE;
    ASSERT_EQ(v4l2_ioctl(fd, VIDIOC_QUERYCTRL, &exposure), 0) << std::strerror(errno);
    EXPECT_STREQ(reinterpret_cast<const char*>(exposure.name), "Exposure Time, Absolute");
    EXPECT_EQ(exposure.minimum, 3);
    EXPECT_EQ(exposure.maximum, 2047);
    EXPECT_EQ(exposure.default_value, 250);
    EXPECT_EQ(menuOf(fd, V4L2_CID_EXPOSURE_AUTO, 5),
              (std::vector<std::string>{"-", "Manual Mode", "-", "Aperture Priority Mode", "-"}));
    EXPECT_EQ(menuOf(fd, V4L2_CID_AUTO_EXPOSURE_BIAS, 6),
              (std::vector<std::string>{"-2000", "-1000", "0", "1000", "2000", "-"}));

    // Manual modes make their values count; the camera keeps them until it is unplugged.
    v4l2_control manual{V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL};
    ASSERT_EQ(v4l2_ioctl(fd, VIDIOC_S_CTRL, &manual), 0) << std::strerror(errno);
    v4l2_control fixedWhite{V4L2_CID_AUTO_WHITE_BALANCE, 0};
    ASSERT_EQ(v4l2_ioctl(fd, VIDIOC_S_CTRL, &fixedWhite), 0) << std::strerror(errno);
    flags[V4L2_CID_WHITE_BALANCE_TEMPERATURE] = 0;
    flags[V4L2_CID_EXPOSURE_ABSOLUTE] = 0;
    EXPECT_EQ(flagsOf(listControls(fd)), flags);
    v4l2_close(fd);
    fd = openVideo(O_RDWR);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    v4l2_control mode{V4L2_CID_EXPOSURE_AUTO, 0};
    EXPECT_EQ(v4l2_ioctl(fd, VIDIOC_G_CTRL, &mode), 0);
    EXPECT_EQ(mode.value, V4L2_EXPOSURE_MANUAL);
    v4l2_close(fd);
    ASSERT_TRUE(ConfigureEmulatedWebcam(""));
    EXPECT_EQ(EmulatedWebcamControlValue(V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_APERTURE_PRIORITY);
}

std::string describe(const v4l2_fract& interval) {
    return std::to_string(interval.numerator) + "/" + std::to_string(interval.denominator);
}

std::vector<std::string> intervalsOf(int fd, std::uint32_t fourcc, std::uint32_t width,
                                     std::uint32_t height) {
    std::vector<std::string> intervals;
    v4l2_frmivalenum interval{};
    interval.pixel_format = fourcc;
    interval.width = width;
    interval.height = height;
    while (intervals.size() < 20 && v4l2_ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) == 0) {
        EXPECT_EQ(interval.type, V4L2_FRMIVAL_TYPE_DISCRETE);
        intervals.push_back(describe(interval.discrete));
        ++interval.index;
    }
    return intervals;
}

std::string frameInterval(int fd) {
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (v4l2_ioctl(fd, VIDIOC_G_PARM, &parm) != 0) {
        return std::strerror(errno);
    }
    return describe(parm.parm.capture.timeperframe);
}

TEST_F(EmulatedWebcamTest, TheNearestOfferedFrameIntervalIsTakenAndDelivered) {
    ASSERT_TRUE(ConfigureEmulatedWebcam("FORMATS=YUYV,MJPG;STREAMON_MS=0;FIRST_FRAME_MS=0;FPS=25"));
    const int fd = openVideo(O_RDWR);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    const std::vector<std::string> all{"1/30", "1/25", "1/15", "1/10", "1/5"};
    EXPECT_EQ(intervalsOf(fd, V4L2_PIX_FMT_YUYV, 640, 480), all);
    EXPECT_EQ(intervalsOf(fd, V4L2_PIX_FMT_MJPEG, 1280, 720), all);
    EXPECT_EQ(intervalsOf(fd, V4L2_PIX_FMT_YUYV, 1280, 720),
              (std::vector<std::string>{"1/25", "1/10", "1/5"}));
    EXPECT_EQ(frameInterval(fd), "1/25");

    struct Wanted {
        v4l2_fract asked;
        const char* taken;
    };
    // Of two as near (1/12 between 1/15 and 1/10), the slower; none asked: the slowest.
    for (const Wanted& wanted :
         {Wanted{{1, 15}, "1/15"}, Wanted{{1, 12}, "1/10"}, Wanted{{1, 100}, "1/30"},
          Wanted{{0, 0}, "1/5"}, Wanted{{2, 11}, "1/5"}}) {
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe = wanted.asked;
        ASSERT_EQ(v4l2_ioctl(fd, VIDIOC_S_PARM, &parm), 0) << std::strerror(errno);
        EXPECT_EQ(describe(parm.parm.capture.timeperframe), wanted.taken) << describe(wanted.asked);
        EXPECT_EQ(frameInterval(fd), wanted.taken);
    }
    EXPECT_EQ(EmulatedWebcamCount("frame_interval_sets"), 5);
    v4l2_close(fd);

    Webcam camera;
    ASSERT_TRUE(camera.start(V4L2_PIX_FMT_YUYV));
    EXPECT_EQ(camera.interval(), 200'000);
    const std::optional<Frame> first = camera.next();
    const std::optional<Frame> second = camera.next();
    ASSERT_TRUE(first && second) << std::strerror(errno);
    EXPECT_EQ(second->stampUs - first->stampUs, 200'000);
    v4l2_streamparm busy{};
    busy.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    busy.parm.capture.timeperframe = {1, 30};
    EXPECT_EQ(v4l2_ioctl(camera.fd(), VIDIOC_S_PARM, &busy), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(frameInterval(camera.fd()), "1/5");
}

} // namespace
} // namespace lumenvale::test
