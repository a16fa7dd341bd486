// A V4L2 webcam kept streaming between acquisitions: opened, its format negotiated and its
// buffers queued once, then every filled buffer is dequeued as it arrives (a socket notifier
// on the device) and handed to the listener of the moment, or straight back to the driver.
// The camera's own pixel format is dequeued unconverted, so the driver's byte counts and
// error flags are seen, and libv4lconvert turns a chosen frame into RGB24 afterwards.
#pragma once

#include "acquisition/CameraControls.h"
#include "acquisition/FrameSource.h"
#include "acquisition/V4l2Calls.h"
#include "frames/AcquiredFrame.h"

#include <linux/videodev2.h>

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;
struct v4lconvert_data;

namespace lumenvale {

class WebcamStream {
public:
    // One filled buffer, valid during the listener's call.
    struct Frame {
        const std::uint8_t* data = nullptr;
        std::size_t bytesUsed = 0;
        // When the frame began on the sensor, in CLOCK_MONOTONIC microseconds, when the driver
        // stamps its buffers on that clock.
        std::optional<std::int64_t> startUs;
        // The driver's count of the frames it filled: a gap is frames the camera dropped.
        std::uint32_t sequence = 0;
        // Not flagged as an error and as long as a whole picture (a JPEG with its end marker).
        bool intact = true;
    };

    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void frameArrived(const Frame& frame) = 0;
        // The camera failed (unplugged, taken away); the stream has been closed.
        virtual void streamFailed(const SourceFailure& failure) = 0;
    };

    explicit WebcamStream(V4l2Calls& calls);
    ~WebcamStream();
    WebcamStream(const WebcamStream&) = delete;
    WebcamStream& operator=(const WebcamStream&) = delete;

    // Opens the camera at `path` and starts it streaming; at once when it already streams from
    // there. `name` is the card name, for messages.
    std::optional<SourceFailure> open(const std::string& path, const QString& name);
    void close();
    // Closes the camera and opens it again, as its frame rate can only change that way.
    std::optional<SourceFailure> reopen();
    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    // "Card (/dev/video0)", as messages name the camera.
    QString describe() const;

    // Called at every opening once the picture format is set, before the camera streams: the
    // moment to set its controls and frame rate.
    void setOnOpening(std::function<void(WebcamStream&)> onOpening) {
        onOpening_ = std::move(onOpening);
    }
    // The open camera, as its settings are kept under.
    const CameraIdentity& identity() const { return identity_; }
    // The open camera's controls, and its frame rates for the picture it sends.
    V4l2ControlSet controls() { return {calls_, fd_, pixelFormat(), width(), height()}; }

    // At most one listener; null hands every buffer straight back.
    void setListener(Listener* listener) { listener_ = listener; }
    Listener* listener() const { return listener_; }

    // Takes the buffers the camera has filled so far (at most one round of them); never blocks.
    void drain();

    // The picture in `frame` as the 640 x 480 frame; false when it cannot be decoded.
    bool convert(const Frame& frame, AcquiredFrame& out);

    // The picture size the camera delivers, once open.
    int width() const { return int(device_.fmt.pix.width); }
    int height() const { return int(device_.fmt.pix.height); }
    std::uint32_t pixelFormat() const { return device_.fmt.pix.pixelformat; }
    // Whether this camera's buffers carry monotonic timestamps; unknown until one arrived.
    std::optional<bool> timestamped() const { return timestamped_; }
    // How often the stream was started since this object exists.
    int streamStarts() const { return streamStarts_; }

private:
    struct Buffer {
        void* start = nullptr;
        std::size_t length = 0;
    };

    std::optional<SourceFailure> negotiate();
    std::optional<SourceFailure> startStreaming();
    void fail(const SourceFailure& failure);
    bool isIntact(const v4l2_buffer& buffer) const;
    std::optional<std::int64_t> frameStart(const v4l2_buffer& buffer);
    SourceFailure failure(std::int32_t code, const QString& what) const;
    SourceFailure callFailure(const char* call, int error) const;

    V4l2Calls& calls_;
    std::function<void(WebcamStream&)> onOpening_;
    CameraIdentity identity_;
    std::string path_;
    QString name_;
    int fd_ = -1;
    bool streaming_ = false;
    v4lconvert_data* converter_ = nullptr;
    v4l2_format device_{};    // what the camera sends
    v4l2_format converted_{}; // RGB24 of the same size
    std::vector<Buffer> buffers_;
    std::vector<std::uint8_t> rgb_;
    std::unique_ptr<QSocketNotifier> notifier_;
    Listener* listener_ = nullptr;
    std::int64_t frameIntervalUs_ = 0; // 0: not told; learnt from the timestamps
    std::optional<std::int64_t> lastStampUs_;
    std::uint32_t lastSequence_ = 0;
    std::optional<bool> timestamped_;
    int streamStarts_ = 0;
    bool draining_ = false;
};

// The controls of whatever camera `stream` has open now, through reopenings.
class WebcamStreamControls : public CameraControlSet {
public:
    explicit WebcamStreamControls(WebcamStream& stream) : stream_(stream) {}

    std::vector<CameraControl> controls() override { return stream_.controls().controls(); }
    std::optional<QString> set(std::uint32_t id, std::int64_t value) override {
        return stream_.controls().set(id, value);
    }
    std::vector<FrameInterval> frameIntervals() override {
        return stream_.controls().frameIntervals();
    }
    std::optional<FrameInterval> frameInterval() override {
        return stream_.controls().frameInterval();
    }
    std::optional<QString> setFrameInterval(FrameInterval interval) override {
        return stream_.controls().setFrameInterval(interval);
    }

private:
    WebcamStream& stream_;
};

} // namespace lumenvale
