// What the acquisition dialog needs of an image source: start the live picture, be told when
// the user confirmed, and hand over the frame read out after that, all without blocking.
#pragma once

#include "acquisition/Acquisition.h"
#include "frames/AcquiredFrame.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace lumenvale {

// Why a source cannot deliver: an AcquireResult and a sentence for the user.
struct SourceFailure {
    std::int32_t code = AcquireFailed;
    QString reason;
};

struct SourcePoll {
    enum class State { Waiting, Captured, Failed };
    State state = State::Waiting;
    std::optional<AcquiredFrame> preview; // a fresh live picture, while not yet confirmed
    std::optional<AcquiredFrame> frame;   // the kept frame, when Captured
    SourceFailure failure;                // when Failed
};

class FrameSource {
public:
    virtual ~FrameSource() = default;

    // The source as the user knows it; the dialog is titled after it.
    virtual QString name() const = 0;

    // Starts the live picture, opening the device if it is not open yet. Runs once the
    // dialog's event loop is already running, since every millisecond before that lengthens
    // the exposure.
    virtual std::optional<SourceFailure> start() = 0;
    // Stops the live picture; harmless when not started. A webcam stream runs on.
    virtual void stop() = 0;

    // The user (or the readout timer's Return) confirmed: from now on only a frame read out
    // after this moment may be kept.
    virtual void confirm() = 0;

    // Takes what the device has delivered so far; never blocks.
    virtual SourcePoll poll() = 0;

    // How often the dialog should poll while waiting.
    virtual int pollIntervalMs() const = 0;
};

} // namespace lumenvale
