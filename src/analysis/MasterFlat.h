// The master flat of one readout mode: the per-pixel median of frames of an evenly lit field
// with the dark (or the bias) taken off, each colour scaled to a mean of 1. It holds the
// telescope's vignetting and the shadows of the dust on the sensor's window; a light divided by
// it is as bright in the corners and under the dust as in the middle.
#pragma once

#include "analysis/FloatPicture.h"

#include <QImage>

#include <cstddef>
#include <vector>

namespace lumenvale {

class MasterDark;

class MasterFlat {
public:
    // A value of the flat below this share of its colour's mean, or not a number, has too
    // little light to divide by: the light's value there takes its neighbours' median instead.
    static constexpr float Floor = 0.1F;

    // Scales each colour of `flat` to a mean of 1 (over its finite values).
    explicit MasterFlat(FloatPicture flat);

    // The median of `frames` with `dark` (may be null) taken off, before scaling. Taking the
    // dark off the median is taking it off each frame: a median moves with what is added to
    // all its values.
    static FloatPicture Combine(const std::vector<QImage>& frames, const MasterDark* dark);

    // Scaled to a mean of 1 per colour.
    const FloatPicture& picture() const { return flat_; }
    // Indices into the picture's values below the floor.
    const std::vector<std::size_t>& deadValues() const { return dead_; }

    // Divides `light` (dark-subtracted, of the same size) by the flat.
    void apply(FloatPicture& light) const;

private:
    FloatPicture flat_;
    std::vector<float> gain_; // 1 / flat; 1 where the flat is dead
    std::vector<std::size_t> dead_;
};

} // namespace lumenvale
