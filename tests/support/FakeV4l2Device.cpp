// The scripted V4L2 camera.
#include "support/FakeV4l2Device.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

namespace lumenvale::test {

std::array<std::uint8_t, 3> FakeV4l2Device::PatternPixel(int seed, int x, int y) {
    return {std::uint8_t(x * 3 + seed * 17), std::uint8_t(y * 5 + seed * 29),
            std::uint8_t(x + 2 * y + seed * 41)};
}

::testing::AssertionResult FakeV4l2Device::ShowsPicture(const std::uint8_t* stored, int seed,
                                                        int width, int height) {
    for (int y = 0; y < 480; ++y) {
        const std::uint8_t* row = stored + std::size_t(479 - y) * 1920;
        for (int x = 0; x < 640; ++x) {
            const auto rgb = PatternPixel(seed, x * width / 640, y * height / 480);
            const std::uint8_t* bgr = row + 3 * x;
            if (bgr[0] != rgb[2] || bgr[1] != rgb[1] || bgr[2] != rgb[0]) {
                return ::testing::AssertionFailure() << "picture line " << y << ", column " << x
                                                     << " is not from picture " << seed;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

void FakeV4l2Device::deliver(int seed, std::uint32_t flags, std::size_t shortBy) {
    ready_.push_back({seed, flags, shortBy, std::nullopt});
    signal();
}

void FakeV4l2Device::deliverStarted(std::int64_t startUs, int seed, std::uint32_t flags,
                                    std::size_t shortBy) {
    ready_.push_back({seed, flags, shortBy, startUs});
    signal();
}

void FakeV4l2Device::signal() {
    if (streamingFd_ < 0) {
        return;
    }
    eventfd_t drained = 0;
    eventfd_read(streamingFd_, &drained); // non-blocking: fails harmlessly when not set
    if (streaming_ && !ready_.empty() && !queued_.empty()) {
        eventfd_write(streamingFd_, 1);
    }
}

std::int64_t FakeV4l2Device::frameIntervalUs(const FakeV4l2Camera& camera) const {
    return streamIntervalMs_ > 0 ? std::int64_t(streamIntervalMs_) * 1000 : camera.frameIntervalUs;
}

void FakeV4l2Device::stamp(v4l2_buffer& buffer, const Delivery& delivery) const {
    const FakeV4l2Camera* camera = cameraOf(streamingFd_);
    if (camera == nullptr || camera->stamps == FakeV4l2Camera::Stamps::None) {
        return;
    }
    const std::int64_t intervalUs = frameIntervalUs(*camera);
    std::int64_t startUs = 0;
    if (delivery.startUs) {
        startUs = *delivery.startUs;
    } else {
        // A frame of no particular moment: it ends now.
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        startUs = std::int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000 - intervalUs;
    }
    std::int64_t stampUs = startUs;
    buffer.flags |= V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
    if (camera->stamps == FakeV4l2Camera::Stamps::StartOfExposure) {
        buffer.flags |= V4L2_BUF_FLAG_TSTAMP_SRC_SOE;
    } else {
        stampUs += intervalUs;
    }
    buffer.timestamp.tv_sec = stampUs / 1000000;
    buffer.timestamp.tv_usec = stampUs % 1000000;
}

int FakeV4l2Device::fail(int error) {
    return -error;
}

const FakeV4l2Camera* FakeV4l2Device::cameraOf(int fd) const {
    const auto it = open_.find(fd);
    if (it == open_.end()) {
        return nullptr;
    }
    const auto camera = cameras.find(it->second);
    return camera == cameras.end() ? nullptr : &camera->second;
}

int FakeV4l2Device::open(const std::string& path, int /*flags*/) {
    const auto it = cameras.find(path);
    if (it == cameras.end()) {
        return fail(ENOENT);
    }
    if (it->second.openErrno != 0) {
        return fail(it->second.openErrno);
    }
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        return -errno;
    }
    open_[fd] = path;
    if (onOpen) {
        onOpen(path);
    }
    return fd;
}

int FakeV4l2Device::close(int fd) {
    if (open_.erase(fd) == 0) {
        return fail(EBADF);
    }
    ::close(fd);
    if (fd == streamingFd_) {
        streamingFd_ = -1;
    }
    streaming_ = false;
    queued_.clear();
    ready_.clear();
    return 0;
}

int FakeV4l2Device::mmap(int fd, std::size_t length, std::int64_t offset, void** start) {
    const std::size_t index = std::size_t(offset / OffsetStep);
    if (cameraOf(fd) == nullptr || index >= buffers_.size() || length > buffers_[index].size()) {
        return -EINVAL;
    }
    *start = buffers_[index].data();
    return 0;
}

int FakeV4l2Device::munmap(void* /*start*/, std::size_t /*length*/) {
    return 0;
}

void FakeV4l2Device::fill(std::vector<std::uint8_t>& memory, int seed) const {
    std::fill(memory.begin(), memory.end(), std::uint8_t(0xEE)); // padding shows if used
    for (int y = 0; y < height_; ++y) {
        std::uint8_t* row = memory.data() + bytesPerLine_ * std::size_t(y);
        for (int x = 0; x < width_; ++x) {
            const auto px = PatternPixel(seed, x, y);
            std::copy(px.begin(), px.end(), row + 3 * x);
        }
    }
}

int FakeV4l2Device::dequeue(v4l2_buffer& buffer) {
    if (!streaming_) {
        return fail(EINVAL);
    }
    if (ready_.empty() && streamIntervalMs_ > 0) {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastStreamed_ >= std::chrono::milliseconds(streamIntervalMs_)) {
            lastStreamed_ = now;
            deliver(nextStreamSeed_++);
        }
    }
    if (ready_.empty() || queued_.empty()) {
        return fail(EAGAIN);
    }
    const std::uint32_t index = queued_.front();
    queued_.pop_front();
    const Delivery delivery = ready_.front();
    ready_.pop_front();
    fill(buffers_[index], delivery.seed);
    buffer.index = index;
    buffer.bytesused = std::uint32_t(buffers_[index].size() - delivery.shortBy);
    buffer.flags = delivery.flags | V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_DONE;
    buffer.sequence = sequence_++;
    buffer.field = V4L2_FIELD_NONE;
    stamp(buffer, delivery);
    ++dequeued_;
    signal();
    return 0;
}

int FakeV4l2Device::ioctl(int fd, unsigned long request, void* arg) {
    const FakeV4l2Camera* camera = cameraOf(fd);
    if (camera == nullptr) {
        return fail(EBADF);
    }
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto& cap = *static_cast<v4l2_capability*>(arg);
        cap = {};
        std::strncpy(reinterpret_cast<char*>(cap.card), camera->card.c_str(), sizeof cap.card - 1);
        cap.capabilities = camera->caps | V4L2_CAP_DEVICE_CAPS;
        cap.device_caps = camera->caps;
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto& size = *static_cast<v4l2_frmsizeenum*>(arg);
        if (size.pixel_format != V4L2_PIX_FMT_RGB24 || size.index >= camera->sizes.size()) {
            return fail(EINVAL);
        }
        size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size.discrete.width = std::uint32_t(camera->sizes[size.index].first);
        size.discrete.height = std::uint32_t(camera->sizes[size.index].second);
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto& desc = *static_cast<v4l2_fmtdesc*>(arg);
        if (desc.index != 0 || desc.type != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
            return fail(EINVAL);
        }
        desc.pixelformat = V4L2_PIX_FMT_RGB24;
        std::strncpy(reinterpret_cast<char*>(desc.description), "RGB3", sizeof desc.description);
        return 0;
    }
    case VIDIOC_TRY_FMT:
        return format(*camera, *static_cast<v4l2_format*>(arg), false);
    case VIDIOC_S_FMT:
        return format(*camera, *static_cast<v4l2_format*>(arg), true);
    case VIDIOC_G_PARM: {
        auto& parm = *static_cast<v4l2_streamparm*>(arg);
        if (!camera->tellsInterval) {
            return fail(ENOTTY);
        }
        parm.parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
        parm.parm.capture.timeperframe.numerator = std::uint32_t(frameIntervalUs(*camera));
        parm.parm.capture.timeperframe.denominator = 1000000;
        return 0;
    }
    case VIDIOC_REQBUFS: {
        auto& asked = *static_cast<v4l2_requestbuffers*>(arg);
        queued_.clear();
        buffers_.assign(std::min<std::uint32_t>(asked.count, 4),
                        std::vector<std::uint8_t>(bytesPerLine_ * std::size_t(height_)));
        asked.count = std::uint32_t(buffers_.size());
        return 0;
    }
    case VIDIOC_QUERYBUF: {
        auto& buffer = *static_cast<v4l2_buffer*>(arg);
        if (buffer.index >= buffers_.size()) {
            return fail(EINVAL);
        }
        buffer.length = std::uint32_t(buffers_[buffer.index].size());
        buffer.m.offset = std::uint32_t(std::int64_t(buffer.index) * OffsetStep);
        return 0;
    }
    case VIDIOC_QBUF: {
        const auto& buffer = *static_cast<v4l2_buffer*>(arg);
        if (buffer.index >= buffers_.size() ||
            std::find(queued_.begin(), queued_.end(), buffer.index) != queued_.end()) {
            return fail(EINVAL);
        }
        queued_.push_back(buffer.index);
        signal();
        return 0;
    }
    case VIDIOC_DQBUF:
        return dequeue(*static_cast<v4l2_buffer*>(arg));
    case VIDIOC_STREAMON:
        if (camera->streamOnErrno != 0) {
            return fail(camera->streamOnErrno);
        }
        streaming_ = true;
        streamingFd_ = fd;
        ++streamOns_;
        signal();
        return 0;
    case VIDIOC_STREAMOFF:
        // A driver drops what was captured when streaming stops.
        streaming_ = false;
        queued_.clear();
        ready_.clear();
        signal();
        return 0;
    default:
        return fail(ENOTTY);
    }
}

int FakeV4l2Device::format(const FakeV4l2Camera& camera, v4l2_format& format, bool set) {
    if (camera.sizes.empty()) {
        return fail(EINVAL);
    }
    auto& pix = format.fmt.pix;
    // As a driver does: the offered size nearest to the one asked for.
    const auto nearest = std::min_element(
        camera.sizes.begin(), camera.sizes.end(), [&](const auto& a, const auto& b) {
            auto d = [&](const auto& s) {
                return std::abs(s.first - int(pix.width)) + std::abs(s.second - int(pix.height));
            };
            return d(a) < d(b);
        });
    const std::size_t bytesPerLine = std::size_t(nearest->first) * 3 + camera.rowPadding;
    pix.width = std::uint32_t(nearest->first);
    pix.height = std::uint32_t(nearest->second);
    pix.pixelformat = V4L2_PIX_FMT_RGB24;
    pix.bytesperline = std::uint32_t(bytesPerLine);
    pix.sizeimage = std::uint32_t(bytesPerLine * std::size_t(nearest->second));
    pix.field = V4L2_FIELD_NONE;
    if (set) {
        width_ = nearest->first;
        height_ = nearest->second;
        bytesPerLine_ = bytesPerLine;
    }
    return 0;
}

} // namespace lumenvale::test
