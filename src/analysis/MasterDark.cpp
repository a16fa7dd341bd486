// Median combining, finding the hot pixels against their surroundings, and calibrating a light.
#include "analysis/MasterDark.h"

#include "analysis/FloatPicture.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace lumenvale {

MasterDark::MasterDark(FloatPicture dark) : dark_(std::move(dark)) {
    // Hot against the pixel's surroundings rather than the whole frame's median, so that the
    // glowing corner is subtracted as glow and a hot pixel inside it is still found.
    std::vector<float> excess(dark_.values.size());
    for (std::size_t i = 0; i < excess.size(); ++i) {
        excess[i] = dark_.values[i] - dark_.neighbourMedian(i);
    }
    std::vector<float> spread;
    spread.reserve(excess.size() / 7 + 1);
    for (std::size_t i = 0; i < excess.size(); i += 7) {
        spread.push_back(std::abs(excess[i]));
    }
    // A median of several 8-bit frames is often perfectly flat; a hot pixel must still stand
    // clearly above the one grey level the frames are counted in.
    const float noise = std::max(0.5F, MiddleValue(spread) * 1.4826F);
    for (std::size_t i = 0; i < excess.size(); ++i) {
        if (excess[i] > float(HotSigma) * noise) {
            hot_.push_back(i);
        }
    }
}

FloatPicture MasterDark::Median(const std::vector<QImage>& frames) {
    if (frames.empty()) {
        return {};
    }
    std::vector<QImage> rgb;
    rgb.reserve(frames.size());
    for (const QImage& frame : frames) {
        rgb.push_back(frame.convertToFormat(QImage::Format_RGB888));
    }
    FloatPicture median(rgb.front().width(), rgb.front().height());
    std::vector<std::uint8_t> values(rgb.size());
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    for (int y = 0; y < median.height; ++y) {
        float* out = median.row(y);
        for (int i = 0; i < median.width * 3; ++i) {
            for (std::size_t f = 0; f < rgb.size(); ++f) {
                values[f] = rgb[f].constScanLine(y)[i];
            }
            std::nth_element(values.begin(), middle, values.end());
            float value = *middle;
            if (values.size() % 2 == 0) {
                value = (value + float(*std::max_element(values.begin(), middle))) / 2;
            }
            out[i] = value;
        }
    }
    return median;
}

void MasterDark::apply(FloatPicture& light) const {
    for (std::size_t i = 0; i < light.values.size(); ++i) {
        light.values[i] -= dark_.values[i];
    }
    for (const std::size_t i : hot_) {
        light.values[i] = light.neighbourMedian(i);
    }
}

} // namespace lumenvale
