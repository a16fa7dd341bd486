// Statistics from a sample of the picture, and the stretch through a fine table.
#include "analysis/MidtonesStretch.h"

#include "analysis/FloatPicture.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace lumenvale {

namespace {
constexpr int TableSize = 4096;
} // namespace

MidtonesStretch::Levels MidtonesStretch::automatic(const FloatPicture& picture) {
    Levels levels;
    std::vector<float> sample;
    float high = -1e30F;
    float low = 1e30F;
    for (std::size_t i = 0; i < picture.values.size(); i += std::size_t(3 * 5)) {
        const float v = picture.values[i] + picture.values[i + 1] + picture.values[i + 2];
        if (!std::isfinite(v)) {
            continue;
        }
        sample.push_back(v / 3);
    }
    if (sample.empty()) {
        return levels;
    }
    for (const float v : picture.values) {
        if (std::isfinite(v)) {
            high = std::max(high, v);
            low = std::min(low, v);
        }
    }
    const double median = MiddleValue(sample);
    for (float& v : sample) {
        v = std::abs(v - float(median));
    }
    const double deviation = MiddleValue(sample) * 1.4826;
    levels.white = std::max<double>(high, median + 1);
    levels.black = std::clamp(median - ShadowsClipSigma * deviation, double(low), median);
    const double span = levels.white - levels.black;
    const double sky = (median - levels.black) / span;
    // The midtones balance that puts the sky at the target: Transfer is its own inverse in
    // this sense, Transfer(Transfer(t, s), s) == t.
    levels.midtones = sky <= 0 ? 0.5 : Transfer(TargetBackground, sky);
    return levels;
}

double MidtonesStretch::Transfer(double midtones, double x) {
    if (x <= 0) {
        return 0;
    }
    if (x >= 1) {
        return 1;
    }
    if (x == midtones) {
        return 0.5;
    }
    return (midtones - 1) * x / ((2 * midtones - 1) * x - midtones);
}

QImage MidtonesStretch::apply(const FloatPicture& picture, const Levels& levels) {
    std::vector<std::uint8_t> table(TableSize + 1);
    for (int i = 0; i <= TableSize; ++i) {
        table[std::size_t(i)] =
            std::uint8_t(std::lround(255 * Transfer(levels.midtones, double(i) / TableSize)));
    }
    const float scale = float(TableSize / std::max(1e-6, levels.white - levels.black));
    const float black = float(levels.black);
    QImage out(picture.width, picture.height, QImage::Format_RGB888);
    for (int y = 0; y < picture.height; ++y) {
        const float* in = picture.row(y);
        uchar* row = out.scanLine(y);
        for (int i = 0; i < picture.width * 3; ++i) {
            const float v = (in[i] - black) * scale;
            // NaN (no frame covered the pixel) shows black.
            row[i] = v > 0 ? table[std::size_t(std::min(v, float(TableSize)))] : 0;
        }
    }
    return out;
}

} // namespace lumenvale
