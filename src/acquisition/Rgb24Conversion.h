// Turning a camera picture of any size (RGB24, top-down, rows possibly padded) into the
// 640 x 480 frame.
#pragma once

#include "frames/AcquiredFrame.h"

#include <cstddef>
#include <cstdint>

namespace lumenvale {

// `rgb` holds `height` rows of `bytesPerLine` bytes, each starting with `width` pixels of red,
// green, blue. A picture that is not 4:3 is cropped to its centre 4:3 first, so nothing is
// squeezed; then it is scaled by area averaging (every frame pixel is the mean of the picture
// area it covers), so a 640 x 480 picture comes through unchanged, a half-size one is doubled
// exactly and a double-size one is averaged two by two. Returns false (and leaves `out` alone)
// when the sizes do not describe a picture.
bool ConvertRgb24ToFrame(const std::uint8_t* rgb, int width, int height, std::size_t bytesPerLine,
                         AcquiredFrame& out);

} // namespace lumenvale
