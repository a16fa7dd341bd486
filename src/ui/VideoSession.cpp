// The live video and its recording.
#include "ui/VideoSession.h"

#include "platform/Errors.h"
#include "video/SerOutput.h"
#include "video/VideoFrame.h"

#include <chrono>
#include <utility>

namespace lumenvale {

VideoSession::VideoSession(Acquisition& acquisition, const CaptureState& capture)
    : acquisition_(acquisition), capture_(capture) {}

VideoSession::~VideoSession() {
    stop();
}

std::optional<QString> VideoSession::start() {
    if (live_) {
        return std::nullopt;
    }
    auto failure = acquisition_.startVideo(
        [this](const Acquisition::VideoPicture& picture) { onPicture(picture); },
        [this](const QString& why) {
            // The camera is gone: what was recorded is kept.
            live_ = false;
            stopRecording();
            say(QStringLiteral("The video ended: %1").arg(why));
        });
    live_ = !failure;
    return failure;
}

void VideoSession::stop() {
    stopRecording();
    if (live_) {
        live_ = false;
        acquisition_.stopVideo();
    }
}

std::optional<QString> VideoSession::record(const std::string& saveDir, const QString& baseName,
                                            const Choice& choice) {
    if (recorder_) {
        return std::nullopt;
    }
    if (capture_.CaptureBusy == 1) {
        return QStringLiteral("A capture is running: record when it has ended.");
    }
    if (!live_) {
        return QStringLiteral("There is no live video to record.");
    }
    VideoRecorder::Settings settings;
    settings.mono = choice.mono;
    settings.region = choice.region;
    settings.centre = centre_;
    settings.maxFrames = choice.maxFrames;
    settings.maxSeconds = choice.maxSeconds;
    settings.instrument = "Lumenvale webcam";
    try {
        const std::filesystem::path path = NextVideoPath(saveDir, baseName);
        recorder_ =
            std::make_unique<VideoRecorder>(path, std::make_unique<SerFileOutput>(path), settings);
    } catch (const FileError& error) {
        return QStringLiteral("The video was not started: %1").arg(QString::fromUtf8(error.what()));
    }
    region_ = choice.region;
    acquisition_.setRecordingVideo(true);
    return std::nullopt;
}

void VideoSession::stopRecording() {
    if (!recorder_) {
        return;
    }
    const std::unique_ptr<VideoRecorder> ended = std::move(recorder_);
    acquisition_.setRecordingVideo(false);
    const std::optional<std::string> failure = ended->stop();
    const VideoRecorder::Counts counts = ended->counts();
    const QString file = QString::fromStdString(ended->path().string());
    if (failure) {
        say(QString::fromStdString(*failure));
        return;
    }
    say(QStringLiteral("%1 frames recorded to %2 (%3 dropped, %4 dropped by the camera).")
            .arg(counts.written)
            .arg(file)
            .arg(counts.dropped)
            .arg(counts.cameraDropped));
}

void VideoSession::onPicture(const Acquisition::VideoPicture& picture) {
    picture_ = picture.frame;
    const QRect region = recorder_ ? recorder_->region() : VideoRegion(region_, centre_);
    // A camera that stamps no times is timed on arrival.
    const auto arrived = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    monitor_.add(picture.frame, picture.startUs.value_or(arrived.count()), region);
    if (recorder_ && !recorder_->offer(picture.frame, picture.startUs, picture.sequence)) {
        stopRecording(); // its limit reached, or its disk full
    }
}

QString VideoSession::status() const {
    QString line = QStringLiteral("%1 frames a second").arg(monitor_.framesPerSecond(), 0, 'f', 1);
    if (recorder_) {
        const VideoRecorder::Counts counts = recorder_->counts();
        line += QStringLiteral("; recording %1: %2 frames, %3 dropped, %4 dropped by the camera")
                    .arg(QString::fromStdString(recorder_->path().filename().string()))
                    .arg(counts.recorded)
                    .arg(counts.dropped)
                    .arg(counts.cameraDropped);
    }
    return line;
}

void VideoSession::say(const QString& text) {
    message_ += (message_.isEmpty() ? QString() : QStringLiteral("\n")) + text;
}

} // namespace lumenvale
