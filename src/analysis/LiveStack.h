// The stack that grows while a run goes on: each frame dark-subtracted, aligned on the stars
// of the stack's first frame, and added to a running mean per colour; from the fifth frame on,
// a value far from the running mean (a satellite, a plane, a cosmic ray) is left out for that
// frame. A frame that cannot be aligned, or that the quality gate refuses, is counted and never
// stacked.
#pragma once

#include "analysis/FloatPicture.h"
#include "analysis/QualityGate.h"
#include "analysis/StarFinder.h"
#include "analysis/StarRegistration.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace lumenvale {

class MasterDark;
class MasterFlat;

class LiveStack {
public:
    static constexpr int MaxStars = 50;
    static constexpr int MinMatchedStars = 6;
    static constexpr double MaxScaleError = 0.01;
    static constexpr double RejectSigma = 3;
    // From this frame on the running mean and spread are good enough to reject against.
    static constexpr int RejectFromFrame = 5;

    struct Outcome {
        bool stacked = false;
        QString problem;      // why the frame was rejected
        Similarity transform; // frame -> first frame
        int matchedStars = 0;
        FrameQuality quality; // against the first frame; from the second frame on
    };

    // `frame` is calibrated with `dark`, then `flat` (either may be null) first; all frames of
    // one stack have one size, a frame of another size is rejected.
    Outcome add(FloatPicture frame, const MasterDark* dark, double exposureSeconds,
                const MasterFlat* flat = nullptr);
    // A new stack keeps them.
    void setLimits(const StackLimits& limits) { gate_.setLimits(limits); }
    const StackLimits& limits() const { return gate_.limits(); }
    void reset();

    int stacked() const { return stacked_; }
    int rejected() const { return rejected_; }
    double totalExposureSeconds() const { return exposureSeconds_; }
    bool empty() const { return stacked_ == 0; }
    // The running mean; NaN where no frame has covered a pixel yet.
    const FloatPicture& mean() const { return mean_; }

private:
    Outcome reject(QString why) { return reject(std::move(why), Outcome()); }
    Outcome reject(QString why, Outcome outcome);
    void accumulate(const FloatPicture& frame, float noiseFloor);

    std::vector<StarPoint> referenceStars_;
    QualityGate gate_;
    FloatPicture mean_;
    std::vector<float> spread_;        // running sum of squared deviations (Welford)
    std::vector<std::uint16_t> count_; // frames that went into each value
    FloatPicture warped_;
    int stacked_ = 0;
    int rejected_ = 0;
    double exposureSeconds_ = 0;
};

} // namespace lumenvale
