// The histogram in one pass over the picture, and the points kept apart and inside it.
#include "analysis/StackStretch.h"

#include <algorithm>
#include <array>

namespace lumenvale {

StackStretch::Points StackStretch::Histogram::moved(Points points, bool black, double level) const {
    const double bin = (high - low) / Bins;
    if (black) {
        points.black = std::clamp(level, low, high - bin);
        points.white = std::max(points.white, points.black + bin);
    } else {
        points.white = std::clamp(level, low + bin, high);
        points.black = std::min(points.black, points.white - bin);
    }
    return points;
}

StackStretch::Histogram StackStretch::HistogramOf(const FloatPicture& picture) {
    Histogram histogram;
    const std::size_t pixels = picture.values.size() / 3;
    const float* v = picture.values.data();
    const auto grey = [v](std::size_t i) { return (v[3 * i] + v[3 * i + 1] + v[3 * i + 2]) / 3; };
    float low = 1e30F;
    float high = -1e30F;
    for (std::size_t i = 0; i < pixels; ++i) {
        // NaN (no frame covered the pixel) compares false and is passed over.
        const float g = grey(i);
        low = g < low ? g : low;
        high = g > high ? g : high;
    }
    if (low > high) {
        return histogram;
    }
    histogram.low = low;
    histogram.high = std::max<double>(high, low + 1);
    // Four tables in turn, so that the sky's many pixels in a few bins do not wait on each other.
    std::array<std::array<int, Histogram::Bins>, 4> counts{};
    const float scale = float(Histogram::Bins / (histogram.high - histogram.low));
    for (std::size_t i = 0; i < pixels; ++i) {
        const float bin = (grey(i) - low) * scale;
        if (bin >= 0) {
            ++counts[i % 4][std::size_t(std::min(int(bin), Histogram::Bins - 1))];
        }
    }
    histogram.counts.assign(Histogram::Bins, 0);
    for (std::size_t b = 0; b < histogram.counts.size(); ++b) {
        histogram.counts[b] = counts[0][b] + counts[1][b] + counts[2][b] + counts[3][b];
    }
    return histogram;
}

MidtonesStretch::Levels StackStretch::levels(const FloatPicture& picture) const {
    MidtonesStretch::Levels levels = MidtonesStretch::automatic(picture);
    if (points_) {
        levels.black = points_->black;
        levels.white = std::max(points_->white, points_->black + 1e-3);
    }
    return levels;
}

} // namespace lumenvale
