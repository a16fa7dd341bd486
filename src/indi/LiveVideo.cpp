// The live picture, from the webcam or the simulated camera.
#include "indi/LiveVideo.h"

#include "acquisition/simulated/SimulatedCameraSource.h"

namespace lumenvale {

LiveVideo::LiveVideo(StreamAcquisition& acquisition, Sink sink)
    : acquisition_(acquisition), sink_(std::move(sink)) {
    simulatedFrames_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&simulatedFrames_, &QTimer::timeout, [this] {
        if (wanted()) {
            sink_(acquisition_.simulatedCamera().preview().toImage());
        }
    });
}

LiveVideo::~LiveVideo() {
    stop();
}

void LiveVideo::start(bool simulated) {
    stop();
    running_ = true;
    paused_ = false;
    if (simulated) {
        simulatedFrames_.start(SimulatedCameraSource::PreviewIntervalMs);
    } else {
        acquisition_.setOnLiveFrame([this](const AcquiredFrame& frame) {
            if (wanted()) {
                sink_(frame.toImage());
            }
        });
    }
}

void LiveVideo::stop() {
    running_ = false;
    simulatedFrames_.stop();
    acquisition_.setOnLiveFrame(nullptr);
}

} // namespace lumenvale
