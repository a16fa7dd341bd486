// Medians over the matched stars and the run's skies.
#include "analysis/QualityGate.h"

#include "analysis/FloatPicture.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace lumenvale {

namespace {

// Every this many lines and pixels are sampled for the sky: plenty for a median.
constexpr int SkyStep = 4;

double Median(std::vector<double>& values) {
    return values.empty() ? std::numeric_limits<double>::quiet_NaN() : MiddleValue(values);
}

} // namespace

double QualityGate::Background(const FloatPicture& picture) {
    std::vector<double> sample;
    sample.reserve(std::size_t(picture.width / SkyStep + 1) *
                   std::size_t(picture.height / SkyStep + 1));
    for (int y = 0; y < picture.height; y += SkyStep) {
        const float* row = picture.row(y);
        for (int x = 0; x < picture.width; x += SkyStep) {
            const float* pixel = row + std::size_t(x) * 3;
            sample.push_back((pixel[0] + pixel[1] + pixel[2]) / 3.0);
        }
    }
    return Median(sample);
}

FrameQuality QualityGate::measure(const std::vector<StarPoint>& reference,
                                  const std::vector<StarPoint>& stars,
                                  const std::vector<std::pair<int, int>>& pairs, double background,
                                  double noise) const {
    FrameQuality quality;
    quality.stars = int(stars.size());
    std::vector<double> flux;
    std::vector<double> size;
    std::vector<double> elongation;
    for (const auto& [f, r] : pairs) {
        const StarPoint& star = stars[std::size_t(f)];
        const StarPoint& first = reference[std::size_t(r)];
        if (first.flux > 0 && first.fwhm > 0) {
            flux.push_back(star.flux / first.flux);
            size.push_back(star.fwhm / first.fwhm);
        }
        elongation.push_back(star.elongation);
    }
    if (!flux.empty()) {
        quality.fluxRatio = Median(flux);
        quality.sizeRatio = Median(size);
    }
    if (!elongation.empty()) {
        quality.elongation = Median(elongation);
    }

    quality.background = background;
    if (skies_.empty()) {
        quality.backgroundLimit = std::numeric_limits<double>::infinity();
        return quality;
    }
    double mean = 0;
    for (const double sky : skies_) {
        mean += sky;
    }
    mean /= double(skies_.size());
    double spread = noise;
    if (int(skies_.size()) >= SkiesForSpread) {
        double sum2 = 0;
        for (const double sky : skies_) {
            sum2 += (sky - mean) * (sky - mean);
        }
        spread = std::max(spread, std::sqrt(sum2 / double(skies_.size() - 1)));
    }
    quality.backgroundLimit = mean + limits_.maxBackgroundSigma * spread;
    return quality;
}

QString QualityGate::refusal(const FrameQuality& quality) const {
    // The figure to `decimals` and the limit as the user set it.
    const auto beyond = [](const QString& text, double figure, int decimals, double limit) {
        return text.arg(figure, 0, 'f', decimals).arg(limit, 0, 'g', 4);
    };
    if (quality.fluxRatio * 100 < limits_.minFluxPercent) {
        return beyond(QStringLiteral("star flux %1 % of the reference (limit %2 %)"),
                      quality.fluxRatio * 100, 0, limits_.minFluxPercent);
    }
    // Before the size: a trailed star is also a wider one, and the trail is the cause.
    if (quality.elongation > limits_.maxElongation) {
        return beyond(QStringLiteral("stars elongated %1:1 (limit %2)"), quality.elongation, 2,
                      limits_.maxElongation);
    }
    if (quality.sizeRatio * 100 > limits_.maxSizePercent) {
        return beyond(QStringLiteral("star size %1 % of the reference (limit %2 %)"),
                      quality.sizeRatio * 100, 0, limits_.maxSizePercent);
    }
    if (quality.background > quality.backgroundLimit) {
        return beyond(QStringLiteral("background %1, above %3: the run's mean + %2 sigma"),
                      quality.background, 1, limits_.maxBackgroundSigma)
            .arg(quality.backgroundLimit, 0, 'f', 1);
    }
    return {};
}

} // namespace lumenvale
