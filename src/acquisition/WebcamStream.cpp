// The webcam stream: opening, format choice, buffers, dequeueing and conversion.
#include "acquisition/WebcamStream.h"

#include "acquisition/Rgb24Conversion.h"

#include <libv4l-plugin.h>
#include <libv4lconvert.h>

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/mman.h>

namespace lumenvale {

namespace {

constexpr int WantedWidth = AcquiredFrame::Width;
constexpr int WantedHeight = AcquiredFrame::Height;
constexpr std::uint32_t BufferCount = 4;
constexpr int MaxSide = 16384;

// libv4lconvert asks the camera through our calls, so a test camera answers it as well.
int convertIoctl(void* calls, int fd, unsigned long request, void* arg) {
    const int result = static_cast<V4l2Calls*>(calls)->ioctl(fd, request, arg);
    if (result < 0) {
        errno = -result; // libv4lconvert expects the C library's way
        return -1;
    }
    return result;
}

ssize_t convertRead(void*, int, void*, size_t) {
    errno = EINVAL; // the camera is only ever streamed
    return -1;
}

ssize_t convertWrite(void*, int, const void*, size_t) {
    errno = EINVAL;
    return -1;
}

libv4l_dev_ops makeConvertOps() {
    libv4l_dev_ops ops{};
    ops.ioctl = convertIoctl;
    ops.read = convertRead;
    ops.write = convertWrite;
    return ops;
}

const libv4l_dev_ops ConvertOps = makeConvertOps();

struct Size {
    int width = 0;
    int height = 0;
};

bool isFourThree(Size s) {
    return std::int64_t(s.width) * 3 == std::int64_t(s.height) * 4;
}

// Nearness in scale: 1280 x 960 is as near as 320 x 240, and the larger one wins a tie, since
// shrinking loses less than enlarging.
double sizeDistance(Size s) {
    return std::abs(std::log(double(s.width) / WantedWidth)) +
           std::abs(std::log(double(s.height) / WantedHeight));
}

// The size to ask for among those the camera can deliver as RGB after conversion: 640 x 480
// when it has it, otherwise the 4:3 size nearest in scale, otherwise the nearest size (cropped
// to 4:3 later). A range offers its step nearest to 640 x 480.
Size chooseSize(v4lconvert_data* converter) {
    std::vector<Size> sizes;
    for (std::uint32_t index = 0; index < 256; ++index) {
        v4l2_frmsizeenum size{};
        size.index = index;
        size.pixel_format = V4L2_PIX_FMT_RGB24;
        if (v4lconvert_enum_framesizes(converter, &size) != 0) {
            break;
        }
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            sizes.push_back({int(size.discrete.width), int(size.discrete.height)});
            continue;
        }
        const auto& r = size.stepwise;
        auto fit = [](int wanted, std::uint32_t lo, std::uint32_t hi, std::uint32_t step) {
            const long clamped = std::clamp<long>(wanted, long(lo), long(hi));
            const long s = step > 0 ? long(step) : 1;
            return int(long(lo) + (clamped - long(lo) + s / 2) / s * s);
        };
        sizes.push_back({fit(WantedWidth, r.min_width, r.max_width, r.step_width),
                         fit(WantedHeight, r.min_height, r.max_height, r.step_height)});
    }
    std::erase_if(sizes, [](Size s) {
        return s.width <= 0 || s.height <= 0 || s.width > MaxSide || s.height > MaxSide;
    });
    if (sizes.empty()) {
        return {WantedWidth, WantedHeight}; // lists nothing: ask, and take what it answers
    }
    const bool anyFourThree = std::any_of(sizes.begin(), sizes.end(), isFourThree);
    Size best{};
    double bestDistance = std::numeric_limits<double>::infinity();
    for (const Size s : sizes) {
        if (anyFourThree && !isFourThree(s)) {
            continue;
        }
        const double d = sizeDistance(s);
        if (d < bestDistance || (d == bestDistance && s.width > best.width)) {
            best = s;
            bestDistance = d;
        }
    }
    return best;
}

bool isCompressed(std::uint32_t format) {
    return format == V4L2_PIX_FMT_MJPEG || format == V4L2_PIX_FMT_JPEG;
}

// A JPEG ends with its end-of-image marker; some cameras pad the buffer with zeros after it.
// A frame cut short on the bus has none, and libjpeg would fill its missing rows with grey.
bool hasJpegEnd(const std::uint8_t* data, std::size_t used) {
    while (used > 2 && data[used - 1] == 0) {
        --used;
    }
    return used >= 4 && data[used - 2] == 0xFF && data[used - 1] == 0xD9;
}

} // namespace

WebcamStream::WebcamStream(V4l2Calls& calls) : calls_(calls) {}

WebcamStream::~WebcamStream() {
    close();
}

QString WebcamStream::describe() const {
    return QStringLiteral("%1 (%2)").arg(name_, QString::fromStdString(path_));
}

SourceFailure WebcamStream::failure(std::int32_t code, const QString& what) const {
    return {code, QStringLiteral("%1: %2").arg(describe(), what)};
}

SourceFailure WebcamStream::callFailure(const char* call, int error) const {
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

std::optional<SourceFailure> WebcamStream::open(const std::string& path, const QString& name) {
    if (isOpen() && path == path_) {
        return std::nullopt;
    }
    close();
    path_ = path;
    name_ = name;
    const int fd = calls_.open(path, O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        return callFailure("open", -fd);
    }
    fd_ = fd;
    v4l2_capability cap{};
    if (const int error = calls_.ioctl(fd_, VIDIOC_QUERYCAP, &cap); error < 0) {
        close();
        return callFailure("VIDIOC_QUERYCAP", -error);
    }
    const std::uint32_t caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? cap.device_caps : cap.capabilities;
    if ((caps & V4L2_CAP_VIDEO_CAPTURE) == 0 || (caps & V4L2_CAP_STREAMING) == 0) {
        close();
        return failure(AcquireNoSource, QStringLiteral("this device cannot capture video."));
    }
    identity_ = CameraIdentity::of(calls_, fd_).value_or(CameraIdentity{});
    std::optional<SourceFailure> failed = negotiate();
    if (!failed && onOpening_) {
        onOpening_(*this);
    }
    if (!failed) {
        // As the camera's controls left it.
        const std::optional<FrameInterval> interval = controls().frameInterval();
        frameIntervalUs_ = interval ? std::int64_t(interval->numerator) * 1000000 /
                                          std::int64_t(interval->denominator)
                                    : 0;
        failed = startStreaming();
    }
    if (failed) {
        close();
        return failed;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { drain(); });
    return std::nullopt;
}

std::optional<SourceFailure> WebcamStream::negotiate() {
    converter_ = v4lconvert_create_with_dev_ops(fd_, &calls_, &ConvertOps);
    if (converter_ == nullptr) {
        return failure(AcquireFailed, QStringLiteral("its picture formats could not be read."));
    }
    const Size size = chooseSize(converter_);
    v4l2_format wanted{};
    wanted.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    wanted.fmt.pix.width = std::uint32_t(size.width);
    wanted.fmt.pix.height = std::uint32_t(size.height);
    wanted.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
    wanted.fmt.pix.field = V4L2_FIELD_ANY;
    device_ = {};
    if (v4lconvert_try_format(converter_, &wanted, &device_) != 0 ||
        wanted.fmt.pix.pixelformat != V4L2_PIX_FMT_RGB24) {
        return failure(AcquireFailed, QStringLiteral("the camera sends no picture format that "
                                                     "can be converted to RGB."));
    }
    if (const int error = calls_.ioctl(fd_, VIDIOC_S_FMT, &device_); error < 0) {
        return callFailure("VIDIOC_S_FMT", -error);
    }
    const auto& pix = device_.fmt.pix;
    if (pix.width == 0 || pix.height == 0 || pix.width > MaxSide || pix.height > MaxSide) {
        return failure(AcquireFailed,
                       QStringLiteral("the camera reported an unusable picture size (%1 x %2).")
                           .arg(pix.width)
                           .arg(pix.height));
    }
    converted_ = device_;
    converted_.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
    converted_.fmt.pix.bytesperline = pix.width * 3;
    converted_.fmt.pix.sizeimage = pix.width * 3 * pix.height;
    rgb_.resize(converted_.fmt.pix.sizeimage);
    return std::nullopt;
}

std::optional<SourceFailure> WebcamStream::startStreaming() {
    v4l2_requestbuffers request{};
    request.count = BufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (const int error = calls_.ioctl(fd_, VIDIOC_REQBUFS, &request); error < 0) {
        return callFailure("VIDIOC_REQBUFS", -error);
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
        if (const int error = calls_.ioctl(fd_, VIDIOC_QUERYBUF, &buffer); error < 0) {
            return callFailure("VIDIOC_QUERYBUF", -error);
        }
        void* start = nullptr;
        if (const int error = calls_.mmap(fd_, buffer.length, buffer.m.offset, &start); error < 0) {
            return callFailure("mmap", -error);
        }
        buffers_[i] = {start, buffer.length};
        if (const int error = calls_.ioctl(fd_, VIDIOC_QBUF, &buffer); error < 0) {
            return callFailure("VIDIOC_QBUF", -error);
        }
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (const int error = calls_.ioctl(fd_, VIDIOC_STREAMON, &type); error < 0) {
        return callFailure("VIDIOC_STREAMON", -error);
    }
    streaming_ = true;
    ++streamStarts_;
    lastStampUs_.reset();
    return std::nullopt;
}

std::optional<SourceFailure> WebcamStream::reopen() {
    if (!isOpen()) {
        return std::nullopt;
    }
    const std::string path = path_;
    close();
    return open(path, name_);
}

void WebcamStream::close() {
    if (notifier_) {
        // It may be the notifier whose signal is being handled right now.
        notifier_->setEnabled(false);
        notifier_.release()->deleteLater();
    }
    if (fd_ < 0) {
        return;
    }
    if (streaming_) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        calls_.ioctl(fd_, VIDIOC_STREAMOFF, &type);
        streaming_ = false;
    }
    for (const Buffer& b : buffers_) {
        if (b.start != nullptr) {
            calls_.munmap(b.start, b.length);
        }
    }
    if (!buffers_.empty()) {
        v4l2_requestbuffers release{};
        release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        release.memory = V4L2_MEMORY_MMAP;
        calls_.ioctl(fd_, VIDIOC_REQBUFS, &release);
        buffers_.clear();
    }
    if (converter_ != nullptr) {
        v4lconvert_destroy(converter_);
        converter_ = nullptr;
    }
    calls_.close(fd_);
    fd_ = -1;
}

void WebcamStream::fail(const SourceFailure& failed) {
    close();
    if (listener_ != nullptr) {
        listener_->streamFailed(failed);
    }
}

bool WebcamStream::isIntact(const v4l2_buffer& buffer) const {
    if ((buffer.flags & V4L2_BUF_FLAG_ERROR) != 0) {
        return false;
    }
    const Buffer& memory = buffers_[buffer.index];
    const std::size_t used = std::min<std::size_t>(buffer.bytesused, memory.length);
    const auto& pix = device_.fmt.pix;
    if (isCompressed(pix.pixelformat)) {
        return hasJpegEnd(static_cast<const std::uint8_t*>(memory.start), used);
    }
    // A whole picture; the padding after its last row need not be sent.
    std::size_t needed = pix.sizeimage;
    if (pix.pixelformat == V4L2_PIX_FMT_RGB24 && pix.bytesperline >= pix.width * 3) {
        needed = std::size_t(pix.bytesperline) * (pix.height - 1) + std::size_t(pix.width) * 3;
    }
    return used >= needed && needed > 0;
}

std::optional<std::int64_t> WebcamStream::frameStart(const v4l2_buffer& buffer) {
    const bool monotonic =
        (buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
    timestamped_ = monotonic;
    if (!monotonic) {
        return std::nullopt;
    }
    const std::int64_t stampUs =
        std::int64_t(buffer.timestamp.tv_sec) * 1000000 + buffer.timestamp.tv_usec;
    if ((buffer.flags & V4L2_BUF_FLAG_TSTAMP_SRC_MASK) == V4L2_BUF_FLAG_TSTAMP_SRC_SOE) {
        return stampUs;
    }
    // Stamped at the end of the frame (the usual UVC case): it began one frame interval
    // earlier. A driver that does not tell its interval shows it between its frames.
    std::int64_t intervalUs = frameIntervalUs_;
    if (intervalUs <= 0 && lastStampUs_ && buffer.sequence > lastSequence_) {
        intervalUs = (stampUs - *lastStampUs_) / std::int64_t(buffer.sequence - lastSequence_);
    }
    lastStampUs_ = stampUs;
    lastSequence_ = buffer.sequence;
    if (intervalUs <= 0) {
        return std::nullopt;
    }
    return stampUs - intervalUs;
}

void WebcamStream::drain() {
    // A listener may close the stream; and a notifier may fire while a poll drains.
    if (draining_) {
        return;
    }
    draining_ = true;
    // What waits now, and no more: a camera that fills buffers faster than they are handled
    // must not keep this loop from returning to the event loop.
    for (std::size_t taken = 0; streaming_ && taken < buffers_.size(); ++taken) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (const int result = calls_.ioctl(fd_, VIDIOC_DQBUF, &buffer); result < 0) {
            const int error = -result;
            if (error == EINTR) {
                --taken;
                continue;
            }
            if (error != EAGAIN) {
                fail(callFailure("VIDIOC_DQBUF", error));
            }
            break;
        }
        if (buffer.index >= buffers_.size()) {
            fail(failure(AcquireFailed, QStringLiteral("the camera returned an unknown buffer.")));
            break;
        }
        if (listener_ != nullptr) {
            Frame frame;
            frame.data = static_cast<const std::uint8_t*>(buffers_[buffer.index].start);
            frame.bytesUsed =
                std::min<std::size_t>(buffer.bytesused, buffers_[buffer.index].length);
            frame.startUs = frameStart(buffer);
            frame.sequence = buffer.sequence;
            frame.intact = isIntact(buffer);
            listener_->frameArrived(frame);
        } else {
            frameStart(buffer); // keeps the interval learnt
        }
        if (streaming_) {
            if (const int error = calls_.ioctl(fd_, VIDIOC_QBUF, &buffer); error < 0) {
                fail(callFailure("VIDIOC_QBUF", -error));
                break;
            }
        }
    }
    draining_ = false;
}

bool WebcamStream::convert(const Frame& frame, AcquiredFrame& out) {
    if (!isOpen() || frame.data == nullptr) {
        return false;
    }
    const auto& pix = device_.fmt.pix;
    if (pix.pixelformat == V4L2_PIX_FMT_RGB24) {
        // Already RGB; its rows may be padded, which a plain copy would not undo.
        const std::size_t bytesPerLine =
            std::max<std::size_t>(pix.bytesperline, std::size_t(pix.width) * 3);
        return ConvertRgb24ToFrame(frame.data, int(pix.width), int(pix.height), bytesPerLine, out);
    }
    const int written =
        v4lconvert_convert(converter_, &device_, &converted_, const_cast<std::uint8_t*>(frame.data),
                           int(frame.bytesUsed), rgb_.data(), int(rgb_.size()));
    if (written < int(rgb_.size())) {
        return false;
    }
    return ConvertRgb24ToFrame(rgb_.data(), int(pix.width), int(pix.height),
                               std::size_t(pix.width) * 3, out);
}

} // namespace lumenvale
