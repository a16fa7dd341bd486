// One focus star followed from frame to frame through a focus run: the brightest star at first,
// or the one clicked, then the same star by its position however its shape changes (a donut, a
// clipped core), until another is picked or it has been gone for several frames.
#pragma once

#include "analysis/FocusMeasure.h"

#include <optional>

namespace lumenvale {

class FocusTracker {
public:
    // Frames in a row without the star before another one is taken: a passing cloud or a
    // bump of the focuser should not change the star.
    static constexpr int LostFrames = 5;
    // How far the followed star's centre may move from one frame to the next: the mount's
    // tracking and a small bump. A neighbour farther away never takes its place.
    static constexpr double FollowRadius = 6;

    // The followed star in this frame; with none followed yet, or once it is lost, the
    // brightest star. Nothing while the followed star is gone.
    std::optional<FocusMeasure::Star> next(const AcquiredFrame& frame);
    // Follow the star at (or nearest) `at` from the next frame on.
    void pick(QPointF at);
    // Leave the choice to the measurement again: the brightest star from the next frame on.
    void release();
    // Changes whenever another star is taken, so readings of different stars are not mixed.
    int starNumber() const { return starNumber_; }

    FocusMeasure& measure() { return measure_; }

private:
    FocusMeasure measure_;
    std::optional<QPointF> followed_;
    bool clicked_ = false; // followed_ is where the user clicked, no star's centre yet
    int missing_ = 0;
    int starNumber_ = 0;
};

} // namespace lumenvale
