// Acquisition from the webcam stream or the simulated camera without a dialog.
#include "acquisition/StreamAcquisition.h"

#include "acquisition/FrameBmp.h"
#include "acquisition/V4l2Source.h"
#include "acquisition/simulated/SimulatedCameraSource.h"
#include "lines/LineMonitor.h"
#include "platform/Clock.h"
#include "platform/Errors.h"

#include <QEventLoop>
#include <QTimer>

namespace lumenvale {

StreamAcquisition::StreamAcquisition(LineMonitor& lines, const Clock& clock, V4l2Calls& calls,
                                     int frameTimeoutMs)
    : lines_(lines), clock_(clock), simulated_(lines), stream_(calls),
      frameTimeoutMs_(frameTimeoutMs) {
    linesSubscription_ =
        lines_.subscribe([this](const LineWrite& write) { lastWriteUs_ = write.monotonicUs; });
}

StreamAcquisition::~StreamAcquisition() {
    lines_.unsubscribe(linesSubscription_);
    stream_.close();
}

void StreamAcquisition::setCamera(Camera camera) {
    if (camera.path != camera_.path) {
        closeSource();
    }
    camera_ = std::move(camera);
}

std::optional<SourceFailure> StreamAcquisition::openCamera() {
    if (camera_.path.empty()) {
        return std::nullopt;
    }
    std::optional<SourceFailure> failed = stream_.open(camera_.path, camera_.name);
    if (!failed && stream_.listener() == nullptr) {
        // Between acquisitions we listen only to hear of the camera going away.
        stream_.setListener(this);
    }
    return failed;
}

void StreamAcquisition::closeSource() {
    if (stream_.listener() == this) {
        stream_.setListener(nullptr);
    }
    stream_.close();
}

void StreamAcquisition::frameArrived(const WebcamStream::Frame& frame) {
    AcquiredFrame picture;
    if (onLiveFrame_ && frame.intact && stream_.convert(frame, picture)) {
        onLiveFrame_(picture);
    }
}

void StreamAcquisition::streamFailed(const SourceFailure& failure) {
    stream_.setListener(nullptr);
    if (onLost_) {
        onLost_(failure);
    }
}

std::unique_ptr<FrameSource> StreamAcquisition::makeSource() {
    if (camera_.path.empty()) {
        return std::make_unique<SimulatedCameraSource>(simulated_);
    }
    V4l2Source::Options options;
    options.path = camera_.path;
    options.name = camera_.name;
    options.skipFrames = camera_.skipFrames;
    options.frameTimeoutMs = frameTimeoutMs_;
    // The confirmation comes right after the readout write, so the last write is the readout.
    return std::make_unique<V4l2Source>(stream_, clock_, options, [this] { return lastWriteUs_; });
}

void StreamAcquisition::confirm() {
    confirmed_ = true;
    if (confirmHook_) {
        confirmHook_();
    }
}

std::int32_t StreamAcquisition::TWAIN_AcquireToFilename(QWidget*, const std::string& fileName) {
    if (stream_.listener() == this) {
        stream_.setListener(nullptr);
    }
    const std::unique_ptr<FrameSource> source = makeSource();
    confirmed_ = false;
    std::optional<std::int32_t> result;
    if (const std::optional<SourceFailure> failed = source->start()) {
        lastFailure_ = *failed;
        return failed->code;
    }

    QEventLoop loop;
    // Nothing is taken before the confirmation: a frame read out earlier holds no exposure.
    const auto check = [&] {
        if (!confirmed_ || result) {
            return;
        }
        SourcePoll poll = source->poll();
        switch (poll.state) {
        case SourcePoll::State::Waiting:
            return;
        case SourcePoll::State::Failed:
            lastFailure_ = poll.failure;
            result = poll.failure.code;
            break;
        case SourcePoll::State::Captured:
            try {
                WriteFrameBmp(fileName, *poll.frame);
                result = AcquireOk;
            } catch (const FileError& e) {
                lastFailure_ = {AcquireWriteFailed,
                                QStringLiteral("The frame could not be written: %1")
                                    .arg(QString::fromLocal8Bit(e.what()))};
                result = AcquireWriteFailed;
            }
            break;
        }
        loop.quit();
    };
    confirmHook_ = [&] {
        source->confirm();
        check();
    };
    QTimer poller;
    poller.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poller, &QTimer::timeout, &loop, check);
    poller.start(source->pollIntervalMs());
    if (confirmed_) {
        confirmHook_();
    }
    if (!result) {
        loop.exec();
    }
    confirmHook_ = nullptr;
    source->stop();
    if (stream_.isOpen() && stream_.listener() == nullptr) {
        stream_.setListener(this);
    }
    return *result;
}

std::int32_t StreamAcquisition::TWAIN_SelectImageSource(QWidget*) {
    return AcquireCancelled;
}

} // namespace lumenvale
