// The processed frame as the FITS image holds it: three 8-bit planes, red, green and blue, each
// 640 x 480 with the top line of the picture first.
#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>

namespace lumenvale {

struct FitsPlanes {
    // Fills `buffer` (three planes of the picture's size); false when the picture is not
    // 640 x 480 or the buffer is too small.
    static bool fill(const QImage& picture, std::uint8_t* buffer, std::size_t size);
};

} // namespace lumenvale
