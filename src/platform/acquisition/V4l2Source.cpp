// Streaming from a V4L2 webcam without blocking the user-interface thread.
#include "platform/acquisition/V4l2Source.h"

#include "platform/Clock.h"
#include "platform/acquisition/Rgb24Conversion.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/mman.h>

namespace lumenvale {

namespace {

constexpr int WantedWidth = AcquiredFrame::Width;
constexpr int WantedHeight = AcquiredFrame::Height;
constexpr std::uint32_t BufferCount = 4;

struct Size {
    int width = 0;
    int height = 0;
};

// Nearness in scale: 1280 x 960 is as near as 320 x 240, and the larger one wins a tie, since
// shrinking loses less than enlarging.
double sizeDistance(Size s) {
    return std::abs(std::log(double(s.width) / WantedWidth)) +
           std::abs(std::log(double(s.height) / WantedHeight));
}

// The size to ask for: 640 x 480 when the camera lists it, otherwise the nearest size it lists.
// A camera that lists nothing is asked for 640 x 480 and answers with what it can do.
Size chooseSize(V4l2Calls& calls, int fd) {
    Size best{WantedWidth, WantedHeight};
    double bestDistance = std::numeric_limits<double>::infinity();
    for (std::uint32_t index = 0; index < 256; ++index) {
        v4l2_frmsizeenum size{};
        size.index = index;
        size.pixel_format = V4L2_PIX_FMT_RGB24;
        if (calls.ioctlDevice(fd, VIDIOC_ENUM_FRAMESIZES, &size) != 0) {
            break;
        }
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            const Size s{int(size.discrete.width), int(size.discrete.height)};
            if (s.width <= 0 || s.height <= 0) {
                continue;
            }
            const double d = sizeDistance(s);
            if (d < bestDistance || (d == bestDistance && s.width > best.width)) {
                best = s;
                bestDistance = d;
            }
            continue;
        }
        // A range: the nearest size inside it, on its steps.
        const auto& r = size.stepwise;
        auto fit = [](int wanted, std::uint32_t lo, std::uint32_t hi, std::uint32_t step) {
            const long clamped = std::clamp<long>(wanted, long(lo), long(hi));
            const long s = step > 0 ? long(step) : 1;
            return int(long(lo) + (clamped - long(lo) + s / 2) / s * s);
        };
        return {fit(WantedWidth, r.min_width, r.max_width, r.step_width),
                fit(WantedHeight, r.min_height, r.max_height, r.step_height)};
    }
    return best;
}

} // namespace

V4l2Source::V4l2Source(V4l2Calls& calls, const Clock& clock, Settings settings)
    : calls_(calls), clock_(clock), settings_(std::move(settings)), choice_(settings_.skipFrames) {}

V4l2Source::~V4l2Source() {
    stop();
}

QString V4l2Source::name() const {
    return QStringLiteral("%1 (%2)").arg(settings_.name, QString::fromStdString(settings_.path));
}

SourceFailure V4l2Source::failure(std::int32_t code, const QString& what) const {
    return {code, QStringLiteral("%1: %2").arg(name(), what)};
}

SourceFailure V4l2Source::callFailure(const char* call, int error) const {
    switch (error) {
    case EACCES:
    case EPERM:
        return failure(AcquirePermissionDenied,
                       QStringLiteral("permission denied. Add yourself to the video group "
                                      "(sudo usermod -aG video $USER), then log out and in "
                                      "again."));
    case EBUSY:
        return failure(AcquireDeviceBusy,
                       QStringLiteral("the camera is in use by another program."));
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return failure(AcquireNoSource, QStringLiteral("the camera is not connected."));
    case ENOSPC:
        return failure(AcquireDeviceBusy,
                       QStringLiteral("not enough USB bandwidth; plug the camera into another "
                                      "port or close other cameras."));
    default:
        return failure(AcquireFailed, QStringLiteral("%1 failed: %2")
                                          .arg(QString::fromLatin1(call),
                                               QString::fromLocal8Bit(std::strerror(error))));
    }
}

std::optional<SourceFailure> V4l2Source::start() {
    stop();
    fd_ = calls_.openDevice(settings_.path, O_RDWR | O_NONBLOCK);
    if (fd_ < 0) {
        return callFailure("open", errno);
    }
    v4l2_capability cap{};
    if (calls_.ioctlDevice(fd_, VIDIOC_QUERYCAP, &cap) != 0) {
        const int error = errno;
        stop();
        return callFailure("VIDIOC_QUERYCAP", error);
    }
    const std::uint32_t caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? cap.device_caps : cap.capabilities;
    if ((caps & V4L2_CAP_VIDEO_CAPTURE) == 0 || (caps & V4L2_CAP_STREAMING) == 0) {
        stop();
        return failure(AcquireNoSource, QStringLiteral("this device cannot capture video."));
    }
    if (auto failed = setFormat()) {
        stop();
        return failed;
    }
    if (auto failed = startStreaming()) {
        stop();
        return failed;
    }
    lastPreviewTick_ = clock_.timeGetTime();
    previewShown_ = false;
    return std::nullopt;
}

std::optional<SourceFailure> V4l2Source::setFormat() {
    const Size size = chooseSize(calls_, fd_);
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = std::uint32_t(size.width);
    format.fmt.pix.height = std::uint32_t(size.height);
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (calls_.ioctlDevice(fd_, VIDIOC_S_FMT, &format) != 0) {
        return callFailure("VIDIOC_S_FMT", errno);
    }
    if (format.fmt.pix.pixelformat != V4L2_PIX_FMT_RGB24) {
        return failure(AcquireFailed, QStringLiteral("the camera cannot deliver RGB pictures."));
    }
    width_ = int(format.fmt.pix.width);
    height_ = int(format.fmt.pix.height);
    bytesPerLine_ = format.fmt.pix.bytesperline;
    if (bytesPerLine_ == 0) {
        bytesPerLine_ = std::size_t(width_) * 3;
    }
    if (width_ <= 0 || height_ <= 0 || width_ > 16384 || height_ > 16384 ||
        bytesPerLine_ < std::size_t(width_) * 3) {
        return failure(AcquireFailed, QStringLiteral("the camera reported an unusable picture "
                                                     "size (%1 x %2).")
                                          .arg(width_)
                                          .arg(height_));
    }
    return std::nullopt;
}

std::optional<SourceFailure> V4l2Source::startStreaming() {
    v4l2_requestbuffers request{};
    request.count = BufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (calls_.ioctlDevice(fd_, VIDIOC_REQBUFS, &request) != 0) {
        return callFailure("VIDIOC_REQBUFS", errno);
    }
    if (request.count < 2) {
        return failure(AcquireFailed, QStringLiteral("the camera gave too few buffers."));
    }
    buffers_.resize(request.count);
    for (std::uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (calls_.ioctlDevice(fd_, VIDIOC_QUERYBUF, &buffer) != 0) {
            return callFailure("VIDIOC_QUERYBUF", errno);
        }
        void* start = calls_.mapBuffer(fd_, buffer.length, buffer.m.offset);
        if (start == MAP_FAILED) {
            return callFailure("mmap", errno);
        }
        buffers_[i] = {start, buffer.length};
        if (calls_.ioctlDevice(fd_, VIDIOC_QBUF, &buffer) != 0) {
            return callFailure("VIDIOC_QBUF", errno);
        }
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (calls_.ioctlDevice(fd_, VIDIOC_STREAMON, &type) != 0) {
        return callFailure("VIDIOC_STREAMON", errno);
    }
    streaming_ = true;
    return std::nullopt;
}

void V4l2Source::stop() {
    if (fd_ < 0) {
        return;
    }
    if (streaming_) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        calls_.ioctlDevice(fd_, VIDIOC_STREAMOFF, &type);
        streaming_ = false;
    }
    for (const Buffer& b : buffers_) {
        if (b.start != nullptr && b.start != MAP_FAILED) {
            calls_.unmapBuffer(b.start, b.length);
        }
    }
    if (!buffers_.empty()) {
        v4l2_requestbuffers release{};
        release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        release.memory = V4L2_MEMORY_MMAP;
        calls_.ioctlDevice(fd_, VIDIOC_REQBUFS, &release);
        buffers_.clear();
    }
    calls_.closeDevice(fd_);
    fd_ = -1;
}

V4l2Source::Dequeued V4l2Source::dequeue(v4l2_buffer& buffer, SourceFailure& failed) {
    for (;;) {
        buffer = v4l2_buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (calls_.ioctlDevice(fd_, VIDIOC_DQBUF, &buffer) == 0) {
            if (buffer.index >= buffers_.size()) {
                failed = failure(AcquireFailed, QStringLiteral("the camera returned an unknown "
                                                               "buffer."));
                return Dequeued::Failed;
            }
            return Dequeued::Buffer;
        }
        const int error = errno;
        if (error == EINTR) {
            continue;
        }
        if (error == EAGAIN) {
            return Dequeued::Empty;
        }
        failed = callFailure("VIDIOC_DQBUF", error);
        return Dequeued::Failed;
    }
}

bool V4l2Source::requeue(v4l2_buffer& buffer, SourceFailure& failed) {
    if (calls_.ioctlDevice(fd_, VIDIOC_QBUF, &buffer) != 0) {
        failed = callFailure("VIDIOC_QBUF", errno);
        return false;
    }
    return true;
}

bool V4l2Source::isComplete(const v4l2_buffer& buffer) const {
    if ((buffer.flags & V4L2_BUF_FLAG_ERROR) != 0) {
        return false;
    }
    const std::size_t needed = bytesPerLine_ * std::size_t(height_ - 1) + std::size_t(width_) * 3;
    return buffer.bytesused >= needed && buffers_[buffer.index].length >= needed;
}

bool V4l2Source::convert(const v4l2_buffer& buffer, AcquiredFrame& out) const {
    return ConvertRgb24ToFrame(static_cast<const std::uint8_t*>(buffers_[buffer.index].start),
                               width_, height_, bytesPerLine_, out);
}

void V4l2Source::confirm() {
    if (choice_.confirmed()) {
        return;
    }
    // What is waiting now was read out before the user confirmed: hand it back unseen.
    if (streaming_) {
        v4l2_buffer buffer{};
        SourceFailure ignored;
        while (dequeue(buffer, ignored) == Dequeued::Buffer && requeue(buffer, ignored)) {
        }
    }
    choice_.confirm();
    confirmTick_ = clock_.timeGetTime();
}

SourcePoll V4l2Source::poll() {
    SourcePoll result;
    if (!streaming_) {
        return result;
    }
    v4l2_buffer buffer{};
    for (;;) {
        const Dequeued got = dequeue(buffer, result.failure);
        if (got == Dequeued::Failed) {
            result.state = SourcePoll::State::Failed;
            stop();
            return result;
        }
        if (got == Dequeued::Empty) {
            break;
        }
        const bool complete = isComplete(buffer);
        switch (choice_.offer(complete)) {
        case V4l2FrameChoice::Verdict::Keep: {
            AcquiredFrame frame;
            if (!convert(buffer, frame)) {
                result.state = SourcePoll::State::Failed;
                result.failure = failure(AcquireFailed, QStringLiteral("the picture could not "
                                                                       "be converted."));
                return result;
            }
            result.frame = std::move(frame);
            result.state = SourcePoll::State::Captured;
            requeue(buffer, result.failure);
            return result;
        }
        case V4l2FrameChoice::Verdict::Preview: {
            const std::int32_t now = clock_.timeGetTime();
            if (complete && (!previewShown_ ||
                             TickDiff(now, lastPreviewTick_) >= settings_.previewIntervalMs)) {
                AcquiredFrame frame;
                if (convert(buffer, frame)) {
                    result.preview = std::move(frame);
                    lastPreviewTick_ = now;
                    previewShown_ = true;
                }
            }
            break;
        }
        case V4l2FrameChoice::Verdict::Skipped:
        case V4l2FrameChoice::Verdict::Rejected:
            break;
        }
        if (!requeue(buffer, result.failure)) {
            result.state = SourcePoll::State::Failed;
            stop();
            return result;
        }
    }
    if (choice_.confirmed() &&
        TickDiff(clock_.timeGetTime(), confirmTick_) >= settings_.frameTimeoutMs) {
        result.state = SourcePoll::State::Failed;
        result.failure = failure(AcquireNoFrameInTime,
                                 QStringLiteral("no frame arrived within %1 s of the readout.")
                                     .arg(double(settings_.frameTimeoutMs) / 1000.0, 0, 'g', 3));
        stop();
    }
    return result;
}

} // namespace lumenvale
