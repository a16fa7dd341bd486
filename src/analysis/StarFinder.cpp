// Sky by blocks, a threshold on 3 x 3 sums, local peaks, and Gaussian-windowed centroids.
#include "analysis/StarFinder.h"

#include "analysis/FloatPicture.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace lumenvale {

namespace {

constexpr int Block = 32;         // the sky is taken as flat over a block this size
constexpr int WindowRadius = 6;   // pixels around a peak that weigh in its centre
constexpr double WindowSigma = 2; // the centroid's Gaussian window, pixels
constexpr int CentroidTurns = 8;
// A star is round, or nearly so once a binned frame's lines are doubled; a satellite's or a
// plane's trail is not.
constexpr double MaxElongation = 1.8;

// The index of a pixel of a picture `width` wide, in the type the vectors take.
// A Gaussian star's variance along an axis, from its variance under the Gaussian window (the
// product of two Gaussians is one of 1 / v = 1 / s + 1 / w).
double Unwindowed(double variance) {
    constexpr double W = WindowSigma * WindowSigma;
    const double v = std::clamp(variance, 0.01, 0.9 * W);
    return v * W / (W - v);
}

std::size_t At(int x, int y, int width) {
    return std::size_t(y) * std::size_t(width) + std::size_t(x);
}

float Median(std::vector<float>& values) {
    if (values.empty()) {
        return 0;
    }
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

struct Sky {
    int blocksX = 0;
    int blocksY = 0;
    std::vector<float> level;
    float noise = 1;
    float at(int x, int y) const {
        return level[At(std::min(x / Block, blocksX - 1), std::min(y / Block, blocksY - 1),
                        blocksX)];
    }
};

Sky EstimateSky(const std::vector<float>& grey, int width, int height) {
    Sky sky;
    sky.blocksX = std::max(1, width / Block);
    sky.blocksY = std::max(1, height / Block);
    sky.level.resize(std::size_t(sky.blocksX) * std::size_t(sky.blocksY));
    std::vector<float> sample;
    std::vector<float> deviations;
    for (int by = 0; by < sky.blocksY; ++by) {
        for (int bx = 0; bx < sky.blocksX; ++bx) {
            sample.clear();
            const int x1 = bx == sky.blocksX - 1 ? width : (bx + 1) * Block;
            const int y1 = by == sky.blocksY - 1 ? height : (by + 1) * Block;
            // Every other pixel is plenty for a median and keeps this cheap.
            for (int y = by * Block; y < y1; y += 2) {
                for (int x = bx * Block; x < x1; x += 2) {
                    sample.push_back(grey[At(x, y, width)]);
                }
            }
            const float level = Median(sample);
            sky.level[At(bx, by, sky.blocksX)] = level;
            for (std::size_t i = 0; i < sample.size(); i += 4) {
                deviations.push_back(std::abs(sample[i] - level));
            }
        }
    }
    // The median absolute deviation of a normal sky is 0.6745 sigma; stars barely move it.
    sky.noise = std::max(0.5F, Median(deviations) * 1.4826F);
    return sky;
}

} // namespace

std::vector<StarPoint> StarFinder::find(const FloatPicture& picture, int maxStars) {
    return find(picture.grey(), picture.width, picture.height, maxStars);
}

std::vector<StarPoint> StarFinder::find(const std::vector<float>& grey, int width, int height,
                                        int maxStars) {
    std::vector<StarPoint> stars;
    if (width < 2 * EdgeMargin + 1 || height < 2 * EdgeMargin + 1) {
        return stars;
    }
    const Sky sky = EstimateSky(grey, width, height);
    const auto above = [&](int x, int y) { return grey[At(x, y, width)] - sky.at(x, y); };
    // The noise of a 3 x 3 sum is three times that of one pixel.
    const float threshold = float(DetectionSigma) * 3 * sky.noise;
    std::vector<float> box(grey.size(), 0.0F);
    for (int y = 1; y < height - 1; ++y) {
        for (int x = 1; x < width - 1; ++x) {
            float sum = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    sum += above(x + dx, y + dy);
                }
            }
            box[At(x, y, width)] = sum;
        }
    }

    for (int y = EdgeMargin; y < height - EdgeMargin; ++y) {
        for (int x = EdgeMargin; x < width - EdgeMargin; ++x) {
            const float value = box[At(x, y, width)];
            if (value < threshold) {
                continue;
            }
            // A peak of its 5 x 5 neighbourhood; ties go to the first in reading order.
            bool peak = true;
            for (int dy = -2; dy <= 2 && peak; ++dy) {
                for (int dx = -2; dx <= 2; ++dx) {
                    const float other = box[At(x + dx, y + dy, width)];
                    const bool before = dy < 0 || (dy == 0 && dx < 0);
                    if (other > value || (before && other == value && (dx != 0 || dy != 0))) {
                        peak = false;
                        break;
                    }
                }
            }
            // A hot pixel or a cosmic ray carries nearly all of its light in one pixel; a star
            // spread by the optics and the air never does.
            if (!peak || above(x, y) > 0.6F * value) {
                continue;
            }

            double cx = x;
            double cy = y;
            double flux = 0;
            double sxx = 0;
            double syy = 0;
            double sxy = 0;
            double sw = 0;
            for (int turn = 0; turn < CentroidTurns; ++turn) {
                const int ix = int(std::lround(cx));
                const int iy = int(std::lround(cy));
                sw = 0;
                double sx = 0;
                double sy = 0;
                flux = 0;
                sxx = syy = sxy = 0;
                for (int py = std::max(0, iy - WindowRadius);
                     py <= std::min(height - 1, iy + WindowRadius); ++py) {
                    for (int px = std::max(0, ix - WindowRadius);
                         px <= std::min(width - 1, ix + WindowRadius); ++px) {
                        const double light = above(px, py);
                        const double r2 = (px - cx) * (px - cx) + (py - cy) * (py - cy);
                        const double w = std::exp(-r2 / (2 * WindowSigma * WindowSigma)) * light;
                        sw += w;
                        sx += w * (px - cx);
                        sy += w * (py - cy);
                        sxx += w * (px - cx) * (px - cx);
                        syy += w * (py - cy) * (py - cy);
                        sxy += w * (px - cx) * (py - cy);
                        flux += light;
                    }
                }
                if (sw <= 0) {
                    break;
                }
                // The windowed centroid: the Gaussian window's own pull is undone by the 2.
                const double stepX = std::clamp(2 * sx / sw, -1.0, 1.0);
                const double stepY = std::clamp(2 * sy / sw, -1.0, 1.0);
                cx += stepX;
                cy += stepY;
                if (std::abs(stepX) + std::abs(stepY) < 1e-4) {
                    break;
                }
            }
            // The axes of the light's spread, from its second moments.
            const double half = (sxx + syy) / 2;
            const double root = std::sqrt((sxx - syy) * (sxx - syy) / 4 + sxy * sxy);
            const bool round =
                half - root > 0 && (half + root) <= MaxElongation * MaxElongation * (half - root);
            if (round && std::abs(cx - x) <= 2 && std::abs(cy - y) <= 2) {
                const double major = Unwindowed((half + root) / sw);
                const double minor = Unwindowed((half - root) / sw);
                stars.push_back({cx, cy, flux, 2.3548 * std::pow(major * minor, 0.25),
                                 std::sqrt(major / minor)});
            }
        }
    }
    std::sort(stars.begin(), stars.end(),
              [](const StarPoint& a, const StarPoint& b) { return a.flux > b.flux; });
    if (stars.size() > std::size_t(maxStars)) {
        stars.resize(std::size_t(maxStars));
    }
    return stars;
}

} // namespace lumenvale
