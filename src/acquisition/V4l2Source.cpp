// One acquisition from the webcam stream.
#include "acquisition/V4l2Source.h"

#include "platform/Clock.h"

namespace lumenvale {

V4l2Source::V4l2Source(WebcamStream& stream, const Clock& clock, Options options,
                       std::function<std::int64_t()> readoutUs)
    : stream_(stream), clock_(clock), options_(std::move(options)),
      readoutUs_(std::move(readoutUs)), choice_(options_.skipFrames) {}

V4l2Source::~V4l2Source() {
    stop();
}

QString V4l2Source::name() const {
    return QStringLiteral("%1 (%2)").arg(options_.name, QString::fromStdString(options_.path));
}

std::optional<SourceFailure> V4l2Source::start() {
    if (auto failed = stream_.open(options_.path, options_.name)) {
        return failed;
    }
    stream_.setListener(this);
    lastPreviewTick_ = clock_.timeGetTime();
    previewShown_ = false;
    return std::nullopt;
}

void V4l2Source::stop() {
    if (stream_.listener() == this) {
        stream_.setListener(nullptr);
    }
}

void V4l2Source::confirm() {
    if (choice_.confirmed()) {
        return;
    }
    choice_.confirm(readoutUs_ ? readoutUs_() : clock_.monotonicUs());
    confirmTick_ = clock_.timeGetTime();
    // What waits in the driver now finished before the confirmation; a driver without
    // timestamps can only be judged by that.
    atConfirm_ = true;
    stream_.drain();
    atConfirm_ = false;
}

void V4l2Source::failWith(const SourceFailure& failure) {
    decided_ = true;
    pending_.state = SourcePoll::State::Failed;
    pending_.failure = failure;
    stop();
}

void V4l2Source::frameArrived(const WebcamStream::Frame& frame) {
    if (decided_) {
        return;
    }
    V4l2FrameChoice::Arrival arrival;
    arrival.startUs = frame.startUs;
    arrival.waitingAtConfirm = atConfirm_;
    arrival.intact = frame.intact;
    switch (choice_.offer(arrival)) {
    case V4l2FrameChoice::Verdict::Preview: {
        const std::int32_t now = clock_.timeGetTime();
        if (frame.intact &&
            (!previewShown_ || TickDiff(now, lastPreviewTick_) >= options_.previewIntervalMs)) {
            AcquiredFrame picture;
            if (stream_.convert(frame, picture)) {
                pending_.preview = std::move(picture);
                lastPreviewTick_ = now;
                previewShown_ = true;
            }
        }
        return;
    }
    case V4l2FrameChoice::Verdict::Stale:
    case V4l2FrameChoice::Verdict::Skipped:
        return;
    case V4l2FrameChoice::Verdict::Keep: {
        AcquiredFrame picture;
        if (stream_.convert(frame, picture)) {
            decided_ = true;
            pending_.state = SourcePoll::State::Captured;
            pending_.frame = std::move(picture);
            stop();
            return;
        }
        break; // undecodable: damaged
    }
    case V4l2FrameChoice::Verdict::Damaged:
        break;
    }
    // The exposure is in this frame and in no other: a later one would be an ordinary video
    // frame, so the acquisition fails rather than keep it.
    failWith(
        {AcquireDamagedFrame,
         QStringLiteral("%1: the frame read out after the exposure was damaged.").arg(name())});
}

void V4l2Source::streamFailed(const SourceFailure& failure) {
    if (!decided_) {
        failWith(failure);
    }
}

SourcePoll V4l2Source::poll() {
    if (!decided_ && stream_.listener() == this) {
        stream_.drain();
    }
    // Each picture is handed over once; what was decided stays.
    SourcePoll result = std::move(pending_);
    pending_ = SourcePoll{};
    pending_.state = result.state;
    pending_.failure = result.failure;
    if (result.state == SourcePoll::State::Waiting && choice_.confirmed() &&
        TickDiff(clock_.timeGetTime(), confirmTick_) >= options_.frameTimeoutMs) {
        failWith({AcquireNoFrameInTime,
                  QStringLiteral("%1: no frame arrived within %2 s of the readout.")
                      .arg(name())
                      .arg(double(options_.frameTimeoutMs) / 1000.0, 0, 'g', 3)});
        result.state = pending_.state;
        result.failure = pending_.failure;
    }
    return result;
}

} // namespace lumenvale
