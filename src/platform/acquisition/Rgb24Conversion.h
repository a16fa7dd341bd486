// Turning a camera picture of any size (RGB24, top-down, rows possibly padded) into the
// 640 x 480 frame.
#pragma once

#include "platform/acquisition/AcquiredFrame.h"

#include <cstddef>
#include <cstdint>

namespace lumenvale {

// `rgb` holds `height` rows of `bytesPerLine` bytes, each starting with `width` pixels of red,
// green, blue. Other sizes are scaled by taking the nearest source pixel, so a picture that is
// already 640 x 480 comes through unchanged and a half-size one is doubled exactly.
// Returns false (and leaves `out` alone) when the sizes do not describe a picture.
bool ConvertRgb24ToFrame(const std::uint8_t* rgb, int width, int height, std::size_t bytesPerLine,
                         AcquiredFrame& out);

} // namespace lumenvale
