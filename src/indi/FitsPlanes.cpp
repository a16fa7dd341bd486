// Splitting the frame into colour planes.
#include "indi/FitsPlanes.h"

namespace lumenvale {

bool FitsPlanes::fill(const QImage& picture, std::uint8_t* buffer, std::size_t size) {
    constexpr int Width = 640;
    constexpr int Height = 480;
    constexpr std::size_t Plane = std::size_t(Width) * Height;
    if (picture.width() != Width || picture.height() != Height || buffer == nullptr ||
        size < 3 * Plane) {
        return false;
    }
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < Height; ++y) {
        const std::uint8_t* line = rgb.constScanLine(y);
        const std::size_t row = std::size_t(y) * Width;
        for (std::size_t x = 0; x < std::size_t(Width); ++x) {
            buffer[row + x] = line[3 * x];
            buffer[Plane + row + x] = line[3 * x + 1];
            buffer[2 * Plane + row + x] = line[3 * x + 2];
        }
    }
    return true;
}

} // namespace lumenvale
