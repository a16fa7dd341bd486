// A scripted V4L2 camera behind the V4L2 call interface: it answers QUERYCAP, offers RGB24 in
// the sizes a test gives it, hands out mmap buffers, stamps them as a driver does, and fills
// each dequeued buffer with a picture numbered by a seed, so a test can tell which frame was
// kept and check its pixels. Its descriptors are real (eventfds), so a socket notifier on them
// fires when a frame waits.
#pragma once

#include "acquisition/V4l2Calls.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumenvale::test {

struct FakeV4l2Camera {
    std::string card = "Fake Camera";
    std::uint32_t caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    int openErrno = 0;                                  // refuse to open with this errno
    int streamOnErrno = 0;                              // refuse VIDIOC_STREAMON with this errno
    std::vector<std::pair<int, int>> sizes{{640, 480}}; // RGB24 sizes offered
    std::size_t rowPadding = 0;                         // bytes after each row
    enum class Stamps { EndOfFrame, StartOfExposure, None };
    Stamps stamps = Stamps::EndOfFrame; // how buffers are timestamped (CLOCK_MONOTONIC)
    std::int64_t frameIntervalUs = 100000;
    bool tellsInterval = true; // answers VIDIOC_G_PARM
};

class FakeV4l2Device : public V4l2Calls {
public:
    // The red, green, blue of pixel (x, y), y counted from the top, in the picture `seed`.
    static std::array<std::uint8_t, 3> PatternPixel(int seed, int x, int y);
    // Whether 640 x 480 pixels stored as in a frame file (bottom-up rows of blue, green, red)
    // are picture `seed` of a camera delivering width x height, scaled to fill the frame.
    static ::testing::AssertionResult ShowsPicture(const std::uint8_t* stored, int seed,
                                                   int width = 640, int height = 480);

    // Cameras by device path.
    std::map<std::string, FakeV4l2Camera> cameras;

    // The camera finishes a frame; it waits for a queued buffer. `shortBy` bytes fewer than a
    // full picture are marked used.
    void deliver(int seed, std::uint32_t flags = 0, std::size_t shortBy = 0);
    // As deliver(), for a frame that began on the sensor at `startUs` (CLOCK_MONOTONIC): it is
    // stamped as the camera's `stamps` says.
    void deliverStarted(std::int64_t startUs, int seed, std::uint32_t flags = 0,
                        std::size_t shortBy = 0);
    // A streaming camera: a new frame (seeds counting up from 1000, ending as it is dequeued)
    // every `intervalMs` of real time while nothing else waits. 0 stops it.
    void streamEvery(int intervalMs) { streamIntervalMs_ = intervalMs; }

    // Called on every successful open, with the path.
    std::function<void(const std::string&)> onOpen;

    // What the source negotiated and how it used the device.
    int width() const { return width_; }
    int height() const { return height_; }
    std::size_t bytesPerLine() const { return bytesPerLine_; }
    bool streaming() const { return streaming_; }
    int openDevices() const { return int(open_.size()); }
    int dequeued() const { return dequeued_; }
    int streamOns() const { return streamOns_; }
    std::size_t waiting() const { return ready_.size(); }

    int open(const std::string& path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    int mmap(int fd, std::size_t length, std::int64_t offset, void** start) override;
    int munmap(void* start, std::size_t length) override;

private:
    struct Delivery {
        int seed = 0;
        std::uint32_t flags = 0;
        std::size_t shortBy = 0;
        std::optional<std::int64_t> startUs;
    };
    static constexpr std::int64_t OffsetStep = 1 << 24;

    int fail(int error);
    const FakeV4l2Camera* cameraOf(int fd) const;
    int dequeue(v4l2_buffer& buffer);
    void fill(std::vector<std::uint8_t>& memory, int seed) const;
    void stamp(v4l2_buffer& buffer, const Delivery& delivery) const;
    // A streaming fake runs at its own pace; otherwise the camera's.
    std::int64_t frameIntervalUs(const FakeV4l2Camera& camera) const;
    // The descriptor is an eventfd, readable while a frame waits, as a driver's is.
    void signal();
    int format(const FakeV4l2Camera& camera, v4l2_format& format, bool set);

    std::map<int, std::string> open_;
    int streamingFd_ = -1;
    int streamOns_ = 0;
    int width_ = 0;
    int height_ = 0;
    std::size_t bytesPerLine_ = 0;
    std::vector<std::vector<std::uint8_t>> buffers_;
    std::deque<std::uint32_t> queued_;
    std::deque<Delivery> ready_;
    bool streaming_ = false;
    int dequeued_ = 0;
    std::uint32_t sequence_ = 0;
    int streamIntervalMs_ = 0;
    int nextStreamSeed_ = 1000;
    std::chrono::steady_clock::time_point lastStreamed_{};
};

} // namespace lumenvale::test
