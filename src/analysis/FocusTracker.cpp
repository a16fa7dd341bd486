// Following the focus star.
#include "analysis/FocusTracker.h"

namespace lumenvale {

std::optional<FocusMeasure::Star> FocusTracker::next(const AcquiredFrame& frame) {
    if (followed_) {
        if (auto star = measure_.measure(frame, *followed_)) {
            followed_ = star->centre; // it drifts as the mount tracks
            missing_ = 0;
            return star;
        }
        if (++missing_ < LostFrames) {
            return std::nullopt;
        }
        followed_.reset();
    }
    auto star = measure_.measure(frame);
    if (star) {
        followed_ = star->centre;
        missing_ = 0;
        ++starNumber_;
    }
    return star;
}

void FocusTracker::pick(QPointF at) {
    followed_ = at;
    missing_ = 0;
    ++starNumber_;
}

void FocusTracker::release() {
    followed_.reset();
    missing_ = 0;
    ++starNumber_;
}

} // namespace lumenvale
