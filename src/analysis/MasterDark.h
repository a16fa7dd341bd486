// The master dark of one readout mode and exposure: the per-pixel median of frames taken with
// the telescope covered, which holds the amplifier's glow and the sensor's hot pixels. Taking
// it from a light frame removes the glow; the hot pixels, whose level wanders too much from
// frame to frame to subtract, are replaced by the median of their neighbours.
#pragma once

#include "analysis/FloatPicture.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumenvale {

class MasterDark {
public:
    // A value of the master dark this many noise deviations above its neighbours is hot.
    static constexpr double HotSigma = 5;

    explicit MasterDark(FloatPicture dark);

    // The per-pixel median of `frames`, which must all have the size of the first: of darks
    // here, of flats in MasterFlat.
    static FloatPicture Median(const std::vector<QImage>& frames);

    const FloatPicture& picture() const { return dark_; }
    // Indices into the picture's values (one colour of one pixel each).
    const std::vector<std::size_t>& hotValues() const { return hot_; }

    // Subtracts the dark from `light` (of the same size) and mends the hot pixels.
    void apply(FloatPicture& light) const;

private:
    FloatPicture dark_;
    std::vector<std::size_t> hot_;
};

} // namespace lumenvale
