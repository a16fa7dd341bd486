// The quality gate of the live stack: a frame is measured against the stack's first frame
// before it is stacked, and one that would spoil the stack is refused. Thin cloud or dew dims
// its stars, wind, a bumped mount or a trailing drive stretches them, lost focus widens them,
// and a passing light (a car, a torch, the moon from behind a roof) lifts the sky.
#pragma once

#include "analysis/StarFinder.h"

#include <QString>

#include <utility>
#include <vector>

namespace lumenvale {

struct FloatPicture;

// What a frame may be and still be stacked; the user may change them.
struct StackLimits {
    double minFluxPercent = 50;    // matched stars' light, against the reference's
    double maxSizePercent = 150;   // their width, against the reference's
    double maxElongation = 1.5;    // their long axis over their short one
    double maxBackgroundSigma = 3; // the sky above the run's mean, in spreads of the run's skies

    bool operator==(const StackLimits&) const = default;
};

// One frame's figures against the reference.
struct FrameQuality {
    int stars = 0;              // found in the frame
    double fluxRatio = 1;       // median over the matched stars of frame flux / reference flux
    double sizeRatio = 1;       // the same of their widths
    double elongation = 1;      // the median of the matched stars' elongations
    double background = 0;      // the frame's sky, per colour value
    double backgroundLimit = 0; // the highest sky the run's skies allow
};

class QualityGate {
public:
    // The run's skies count as few, and their spread as no less than the frame's own noise,
    // until there are this many of them.
    static constexpr int SkiesForSpread = 5;

    void setLimits(const StackLimits& limits) { limits_ = limits; }
    const StackLimits& limits() const { return limits_; }

    // The median sky of `picture` per colour value, from a sample of its pixels.
    static double Background(const FloatPicture& picture);

    // `pairs` are the (frame star, reference star) indices the alignment matched; `noise` is
    // the frame's noise per colour value.
    FrameQuality measure(const std::vector<StarPoint>& reference,
                         const std::vector<StarPoint>& stars,
                         const std::vector<std::pair<int, int>>& pairs, double background,
                         double noise) const;
    // Why a frame of these figures is refused, with its figures and the limit; empty when
    // it passes.
    QString refusal(const FrameQuality& quality) const;
    // A stacked frame's sky joins the run's.
    void stacked(double background) { skies_.push_back(background); }

private:
    StackLimits limits_;
    std::vector<double> skies_;
};

} // namespace lumenvale
