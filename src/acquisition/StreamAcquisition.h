// Acquisition without a dialog, for the INDI driver: the frame is taken from the webcam stream
// (or the simulated camera) as the acquisition dialog takes it, but the readout timer's
// confirmation reaches the source directly instead of through a Return keystroke.
#pragma once

#include "acquisition/Acquisition.h"
#include "acquisition/FrameSource.h"
#include "acquisition/WebcamStream.h"
#include "acquisition/simulated/SimulatedCamera.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace lumenvale {

class Clock;
class LineMonitor;
class V4l2Calls;

class StreamAcquisition : public Acquisition, private WebcamStream::Listener {
public:
    struct Camera {
        std::string path; // empty: the simulated camera
        QString name;
        int skipFrames = 0;
    };

    // `calls` are borrowed: the real ones through libv4l2, or a test's.
    StreamAcquisition(LineMonitor& lines, const Clock& clock, V4l2Calls& calls,
                      int frameTimeoutMs = 3000);
    ~StreamAcquisition() override;
    StreamAcquisition(const StreamAcquisition&) = delete;
    StreamAcquisition& operator=(const StreamAcquisition&) = delete;

    // Which camera acquires; takes effect at the next openCamera() or acquisition.
    void setCamera(Camera camera);
    // Opens and starts the webcam now; why not, in the words the acquisition dialog uses.
    std::optional<SourceFailure> openCamera();

    // Runs until the source has delivered the frame read out after confirm(), writes it to
    // `fileName` as a frame file and returns AcquireOk; or returns why not (lastFailure()).
    std::int32_t TWAIN_AcquireToFilename(QWidget* parent, const std::string& fileName) override;
    // There is no chooser: the camera is set by setCamera().
    std::int32_t TWAIN_SelectImageSource(QWidget* parent) override;
    void openSource() override { openCamera(); }
    void closeSource() override;

    // The readout state is on the lines: from now on only a frame read out after it counts.
    void confirm();

    // Why the last acquisition failed.
    const SourceFailure& lastFailure() const { return lastFailure_; }

    // Called when the open webcam fails between acquisitions (unplugged during an exposure).
    void setOnCameraLost(std::function<void(const SourceFailure&)> onLost) {
        onLost_ = std::move(onLost);
    }

    // Called with every intact frame the open webcam delivers between acquisitions, converted
    // as the acquisition dialog shows it (the live video); without it they are dropped unread.
    void setOnLiveFrame(std::function<void(const AcquiredFrame&)> onFrame) {
        onLiveFrame_ = std::move(onFrame);
    }

    SimulatedCamera& simulatedCamera() { return simulated_; }
    // The webcam's stream: its controls, and what is done at each of its openings.
    WebcamStream& webcam() { return stream_; }

private:
    void frameArrived(const WebcamStream::Frame& frame) override;
    void streamFailed(const SourceFailure& failure) override;
    std::unique_ptr<FrameSource> makeSource();

    LineMonitor& lines_;
    const Clock& clock_;
    SimulatedCamera simulated_;
    WebcamStream stream_;
    int frameTimeoutMs_;
    Camera camera_;
    SourceFailure lastFailure_;
    std::function<void(const SourceFailure&)> onLost_;
    std::function<void(const AcquiredFrame&)> onLiveFrame_;
    std::function<void()> confirmHook_;
    bool confirmed_ = false;
    int linesSubscription_ = 0;
    std::int64_t lastWriteUs_ = 0;
};

} // namespace lumenvale
