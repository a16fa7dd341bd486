// Combining and scaling the flat, and dividing a light by it.
#include "analysis/MasterFlat.h"

#include "analysis/MasterDark.h"

#include <array>
#include <cmath>
#include <utility>

namespace lumenvale {

MasterFlat::MasterFlat(FloatPicture flat) : flat_(std::move(flat)), gain_(flat_.values.size()) {
    std::array<double, 3> sum{};
    std::array<std::size_t, 3> count{};
    for (std::size_t i = 0; i < flat_.values.size(); ++i) {
        if (std::isfinite(flat_.values[i])) {
            sum[i % 3] += flat_.values[i];
            ++count[i % 3];
        }
    }
    std::array<float, 3> scale{};
    for (std::size_t c = 0; c < 3; ++c) {
        const double mean = count[c] > 0 ? sum[c] / double(count[c]) : 0;
        scale[c] = mean > 0 ? float(1 / mean) : std::nanf("");
    }
    for (std::size_t i = 0; i < flat_.values.size(); ++i) {
        float& value = flat_.values[i];
        value *= scale[i % 3];
        // Written so that NaN counts as below.
        if (!(value >= Floor) || !std::isfinite(value)) {
            gain_[i] = 1;
            dead_.push_back(i);
        } else {
            gain_[i] = 1 / value;
        }
    }
}

FloatPicture MasterFlat::Combine(const std::vector<QImage>& frames, const MasterDark* dark) {
    FloatPicture median = MasterDark::Median(frames);
    if (dark != nullptr && !median.empty()) {
        dark->apply(median);
    }
    return median;
}

void MasterFlat::apply(FloatPicture& light) const {
    float* values = light.values.data();
    const float* gain = gain_.data();
    for (std::size_t i = 0; i < light.values.size(); ++i) {
        values[i] *= gain[i];
    }
    for (const std::size_t i : dead_) {
        light.values[i] = light.neighbourMedian(i);
    }
}

} // namespace lumenvale
