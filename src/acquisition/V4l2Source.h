// A V4L2 webcam as the acquisition's image source: attached to the webcam stream for the
// time of one acquisition, it shows the live picture until the confirmation and then keeps
// the frame V4l2FrameChoice picks, converted to the 640 x 480 frame.
#pragma once

#include "acquisition/FrameSource.h"
#include "acquisition/V4l2FrameChoice.h"
#include "acquisition/WebcamStream.h"

#include <cstdint>
#include <functional>
#include <string>

namespace lumenvale {

class Clock;

class V4l2Source : public FrameSource, private WebcamStream::Listener {
public:
    struct Options {
        std::string path;          // "/dev/video0"
        QString name;              // the card name, for the title
        int skipFrames = 0;        // frames let pass after the exposure frame
        int frameTimeoutMs = 3000; // after the confirmation; then the acquisition fails
        int previewIntervalMs = 66;
    };

    // `readoutUs`, asked at the confirmation, tells when the readout state was written (on
    // CLOCK_MONOTONIC, in microseconds). The stream is borrowed: it keeps running after the
    // acquisition.
    V4l2Source(WebcamStream& stream, const Clock& clock, Options options,
               std::function<std::int64_t()> readoutUs);
    ~V4l2Source() override;
    V4l2Source(const V4l2Source&) = delete;
    V4l2Source& operator=(const V4l2Source&) = delete;

    QString name() const override;
    // Opens the stream when it does not run yet (on this camera), and listens to it.
    std::optional<SourceFailure> start() override;
    // Stops listening; the stream goes on.
    void stop() override;
    void confirm() override;
    SourcePoll poll() override;
    int pollIntervalMs() const override { return 4; }

private:
    void frameArrived(const WebcamStream::Frame& frame) override;
    void streamFailed(const SourceFailure& failure) override;
    void failWith(const SourceFailure& failure);

    WebcamStream& stream_;
    const Clock& clock_;
    Options options_;
    std::function<std::int64_t()> readoutUs_;
    V4l2FrameChoice choice_;
    SourcePoll pending_;
    bool decided_ = false; // the frame is kept, or the acquisition failed
    bool atConfirm_ = false;
    std::int32_t confirmTick_ = 0;
    std::int32_t lastPreviewTick_ = 0;
    bool previewShown_ = false;
};

} // namespace lumenvale
