// Following the focus star.
#include "analysis/FocusTracker.h"

namespace lumenvale {

std::optional<FocusMeasure::Star> FocusTracker::next(const AcquiredFrame& frame) {
    if (followed_) {
        auto star = clicked_ ? measure_.measure(frame, *followed_)
                             : measure_.follow(frame, *followed_, FollowRadius);
        if (star) {
            followed_ = star->centre; // it drifts as the mount tracks
            clicked_ = false;
            missing_ = 0;
            return star;
        }
        if (++missing_ < LostFrames) {
            return std::nullopt;
        }
        followed_.reset();
        clicked_ = false;
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
    clicked_ = true;
    missing_ = 0;
    ++starNumber_;
}

void FocusTracker::release() {
    followed_.reset();
    clicked_ = false;
    missing_ = 0;
    ++starNumber_;
}

} // namespace lumenvale
