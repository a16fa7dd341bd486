// The Video window's logic, without widgets: the camera's live video, its figures, and the
// recording of it to a SER file in the save directory. A recording never starts while a
// capture runs, and no capture starts while one is made.
#pragma once

#include "acquisition/Acquisition.h"
#include "camera/CaptureState.h"
#include "video/VideoMonitor.h"
#include "video/VideoRecorder.h"

#include <QPoint>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>
#include <string>

namespace lumenvale {

class VideoSession {
public:
    struct Choice {
        bool mono = false;
        QSize region; // empty: the whole picture
        int maxFrames = 0;
        double maxSeconds = 0;
    };

    VideoSession(Acquisition& acquisition, const CaptureState& capture);
    // Ends the recording, finishing its file, and the video.
    ~VideoSession();
    VideoSession(const VideoSession&) = delete;
    VideoSession& operator=(const VideoSession&) = delete;

    // The live video; says why there is none.
    std::optional<QString> start();
    // Ends the recording (said by takeMessage) and the video.
    void stop();
    bool live() const { return live_; }

    // Records the live video to the next free "<baseName>NNN.ser" in `saveDir`; says why not.
    std::optional<QString> record(const std::string& saveDir, const QString& baseName,
                                  const Choice& choice);
    // Finishes the file; what became of the recording is said by takeMessage.
    void stopRecording();
    bool recording() const { return recorder_ != nullptr; }
    // The region recorded is centred here (picture coordinates) from the next recording on.
    void setCentre(QPoint centre) { centre_ = centre; }
    // The region whose levels are shown, until a recording chooses its own.
    void setRegion(QSize region) { region_ = region; }
    QPoint centre() const { return centre_; }

    // The latest picture; none before the first.
    const std::optional<AcquiredFrame>& picture() const { return picture_; }
    const VideoMonitor& monitor() const { return monitor_; }
    // One line: the frame rate, and the recording's file and counts while one is made.
    QString status() const;
    // What ended since last asked: a finished recording, a full disk, a camera gone; "" when
    // nothing did.
    QString takeMessage() { return std::exchange(message_, QString()); }

private:
    void onPicture(const Acquisition::VideoPicture& picture);
    void say(const QString& text);

    Acquisition& acquisition_;
    const CaptureState& capture_;
    bool live_ = false;
    QPoint centre_{AcquiredFrame::Width / 2, AcquiredFrame::Height / 2};
    QSize region_;
    std::optional<AcquiredFrame> picture_;
    VideoMonitor monitor_;
    std::unique_ptr<VideoRecorder> recorder_;
    QString message_;
};

} // namespace lumenvale
