// The stretch of the stack on the screen and in its PNG: the midtones stretch from the stack's
// own statistics, or with the black and white points the user set on the stack's histogram in
// the Live stack window. The points are input levels of the stack (grey levels of the 8-bit
// frame), so they hold as the stack grows. The FITS file is never stretched.
#pragma once

#include "analysis/FloatPicture.h"
#include "analysis/MidtonesStretch.h"

#include <optional>
#include <vector>

namespace lumenvale {

class StackStretch {
public:
    struct Points {
        double black = 0;
        double white = 255;
        bool operator==(const Points&) const = default;
    };

    // The pixels of the picture that a frame covered, by their grey (the mean of the three
    // colours, from which the stretch takes its statistics), counted in equal bins between the
    // lowest and the highest grey.
    struct Histogram {
        static constexpr int Bins = 256;
        double low = 0;
        double high = 1;
        std::vector<int> counts; // Bins of them; none without a picture

        // The input level `fraction` of the way from low to high, and back.
        double level(double fraction) const { return low + fraction * (high - low); }
        double fraction(double level) const { return (level - low) / (high - low); }
        // `points` with the black one (or the white one) moved to `level` inside the
        // histogram's range; the other one gives way so that black stays below white by at
        // least one bin.
        Points moved(Points points, bool black, double level) const;
    };

    static Histogram HistogramOf(const FloatPicture& picture);

    // Automatic without points.
    void setPoints(std::optional<Points> points) { points_ = points; }
    const std::optional<Points>& points() const { return points_; }

    // The automatic levels, with the user's black and white points if set; the midtones
    // balance stays the automatic one.
    MidtonesStretch::Levels levels(const FloatPicture& picture) const;

private:
    std::optional<Points> points_;
};

} // namespace lumenvale
