// A V4L2 webcam as the acquisition's image source: RGB24 through libv4l2, 640 x 480 when the
// camera offers it (otherwise the nearest size, scaled), mmap streaming polled without
// blocking, and the frame chosen as V4l2FrameChoice says.
#pragma once

#include "platform/acquisition/FrameSource.h"
#include "platform/acquisition/V4l2Calls.h"
#include "platform/acquisition/V4l2FrameChoice.h"

#include <cstdint>
#include <string>
#include <vector>

struct v4l2_buffer;

namespace lumenvale {

class Clock;

class V4l2Source : public FrameSource {
public:
    struct Settings {
        std::string path;          // "/dev/video0"
        QString name;              // the card name, for the title
        int skipFrames = 1;        // frames let pass after the readout
        int frameTimeoutMs = 3000; // after the confirmation; then the acquisition fails
        int previewIntervalMs = 66;
    };

    V4l2Source(V4l2Calls& calls, const Clock& clock, Settings settings);
    ~V4l2Source() override;
    V4l2Source(const V4l2Source&) = delete;
    V4l2Source& operator=(const V4l2Source&) = delete;

    QString name() const override;
    std::optional<SourceFailure> start() override;
    void stop() override;
    void confirm() override;
    SourcePoll poll() override;
    int pollIntervalMs() const override { return 4; }

    // The picture size the camera delivers, once started.
    int width() const { return width_; }
    int height() const { return height_; }

private:
    struct Buffer {
        void* start = nullptr;
        std::size_t length = 0;
    };
    enum class Dequeued { Buffer, Empty, Failed };

    std::optional<SourceFailure> setFormat();
    std::optional<SourceFailure> startStreaming();
    Dequeued dequeue(v4l2_buffer& buffer, SourceFailure& failure);
    bool requeue(v4l2_buffer& buffer, SourceFailure& failure);
    bool isComplete(const v4l2_buffer& buffer) const;
    bool convert(const v4l2_buffer& buffer, AcquiredFrame& out) const;
    SourceFailure failure(std::int32_t code, const QString& what) const;
    SourceFailure callFailure(const char* call, int error) const;

    V4l2Calls& calls_;
    const Clock& clock_;
    Settings settings_;
    V4l2FrameChoice choice_;
    int fd_ = -1;
    bool streaming_ = false;
    std::vector<Buffer> buffers_;
    int width_ = 0;
    int height_ = 0;
    std::size_t bytesPerLine_ = 0;
    std::int32_t confirmTick_ = 0;
    std::int32_t lastPreviewTick_ = 0;
    bool previewShown_ = false;
};

} // namespace lumenvale
