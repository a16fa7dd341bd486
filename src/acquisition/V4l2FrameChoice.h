// Which camera buffer becomes the frame. The modified webcam puts the long exposure into the
// first frame that starts once the readout state is on the lines, so the frame is chosen by
// the time it started, taken from the driver's timestamps. A driver without timestamps falls
// back on counting: the buffers already waiting at the confirmation are passed over, then a
// set number of frames is let pass and the next one is kept.
#pragma once

#include <cstdint>
#include <optional>

namespace lumenvale {

class V4l2FrameChoice {
public:
    enum class Verdict {
        Preview, // before the confirmation: for the live picture only
        Stale,   // started before the readout (or waiting at the confirmation): no exposure
        Skipped, // one of the frames the user asked to let pass after the exposure frame
        Keep,    // the frame
        Damaged, // the frame to keep, but flagged bad, short or undecodable: there is no other
    };

    // How one buffer arrived.
    struct Arrival {
        // When the frame began on the sensor (CLOCK_MONOTONIC microseconds), if the driver says.
        std::optional<std::int64_t> startUs;
        // It was already waiting in the driver when the confirmation came.
        bool waitingAtConfirm = false;
        bool intact = true;
    };

    explicit V4l2FrameChoice(int skipFrames) : toSkip_(skipFrames > 0 ? skipFrames : 0) {}

    // From now on frames count; `readoutUs` is when the readout state was written.
    void confirm(std::int64_t readoutUs) {
        confirmed_ = true;
        readoutUs_ = readoutUs;
    }
    bool confirmed() const { return confirmed_; }

    Verdict offer(const Arrival& arrival) {
        if (!confirmed_) {
            return Verdict::Preview;
        }
        const bool stale =
            arrival.startUs ? *arrival.startUs < readoutUs_ : arrival.waitingAtConfirm;
        if (stale) {
            return Verdict::Stale;
        }
        // Broken frames count here as well: one that was let pass must not push the kept frame
        // one later, and the kept one carries the exposure, so a later one would carry none.
        if (toSkip_ > 0) {
            --toSkip_;
            return Verdict::Skipped;
        }
        return arrival.intact ? Verdict::Keep : Verdict::Damaged;
    }

private:
    int toSkip_;
    bool confirmed_ = false;
    std::int64_t readoutUs_ = 0;
};

} // namespace lumenvale
