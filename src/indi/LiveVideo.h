// The camera's live picture for the video stream: the webcam's frames as they arrive between
// exposures, or the simulated camera's sky at its preview rate. An exposure pauses it, since
// the frames read out during one are the exposure's business, and resumes it afterwards.
#pragma once

#include "acquisition/StreamAcquisition.h"

#include <QImage>
#include <QTimer>

#include <functional>

namespace lumenvale {

class LiveVideo {
public:
    using Sink = std::function<void(const QImage& picture)>;

    // `sink` gets each picture the right way up, 640 x 480.
    LiveVideo(StreamAcquisition& acquisition, Sink sink);
    ~LiveVideo();
    LiveVideo(const LiveVideo&) = delete;
    LiveVideo& operator=(const LiveVideo&) = delete;

    // From the simulated camera when `simulated`, else from the open webcam's stream.
    void start(bool simulated);
    void stop();
    void pause() { paused_ = true; }
    void resume() { paused_ = false; }
    bool running() const { return running_; }
    bool paused() const { return running_ && paused_; }

private:
    // The waits of an exposure pump events, so frames keep arriving while it runs.
    bool wanted() const { return running_ && !paused_; }

    StreamAcquisition& acquisition_;
    Sink sink_;
    QTimer simulatedFrames_;
    bool running_ = false;
    bool paused_ = false;
};

} // namespace lumenvale
