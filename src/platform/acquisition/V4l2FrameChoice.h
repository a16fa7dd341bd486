// Which camera buffer becomes the frame. A modified webcam puts the long exposure into the
// stream right after the readout, so buffers that were already waiting when the user
// confirmed hold the picture from before it and are never counted; then a set number of
// frames is let pass (the one in flight at the readout) and the next complete one is kept.
#pragma once

namespace lumenvale {

class V4l2FrameChoice {
public:
    enum class Verdict {
        Preview,  // before the confirmation: for the live picture only
        Skipped,  // one of the frames let pass after the readout
        Rejected, // flagged bad or short: never kept
        Keep,     // the frame
    };

    explicit V4l2FrameChoice(int skipFrames) : toSkip_(skipFrames > 0 ? skipFrames : 0) {}

    // Call after the buffers waiting at the confirmation have been taken as previews.
    void confirm() { confirmed_ = true; }
    bool confirmed() const { return confirmed_; }

    // Every delivered buffer counts as a frame slot, complete or not: a broken frame in
    // flight at the readout must not push the kept frame one later.
    Verdict offer(bool complete) {
        if (!confirmed_) {
            return Verdict::Preview;
        }
        if (toSkip_ > 0) {
            --toSkip_;
            return Verdict::Skipped;
        }
        return complete ? Verdict::Keep : Verdict::Rejected;
    }

private:
    int toSkip_;
    bool confirmed_ = false;
};

} // namespace lumenvale
