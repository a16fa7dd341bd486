// The processed frame as the FITS image and the live video hold it, the top line of the picture
// first: in colour, three 8-bit planes (red, green, blue) of 640 x 480 for the FITS image, or
// interleaved RGB for the video; in mono, one 8-bit plane of luminance for both.
#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>

namespace lumenvale {

struct FitsPlanes {
    static constexpr int Width = 640;
    static constexpr int Height = 480;
    static constexpr std::size_t PlaneBytes = std::size_t(Width) * Height;

    // Fills `buffer` with the three planes (or, `mono`, the one plane of luminance); false
    // when the picture is not 640 x 480 or the buffer is too small.
    static bool fill(const QImage& picture, bool mono, std::uint8_t* buffer, std::size_t size);
    // The picture as the video sends it: interleaved RGB rows, or the luminance plane.
    static QByteArray videoFrame(const QImage& picture, bool mono);
};

} // namespace lumenvale
