// Splitting the frame into colour planes, or reducing it to its luminance.
#include "indi/FitsPlanes.h"

#include "frames/AcquiredFrame.h"

#include <QByteArray>

namespace lumenvale {

bool FitsPlanes::fill(const QImage& picture, bool mono, std::uint8_t* buffer, std::size_t size) {
    if (picture.width() != Width || picture.height() != Height || buffer == nullptr ||
        size < (mono ? 1 : 3) * PlaneBytes) {
        return false;
    }
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < Height; ++y) {
        const std::uint8_t* line = rgb.constScanLine(y);
        std::uint8_t* row = buffer + std::size_t(y) * Width;
        for (std::size_t x = 0; x < std::size_t(Width); ++x) {
            const std::uint8_t* pixel = line + 3 * x;
            if (mono) {
                row[x] = Luminance(pixel[0], pixel[1], pixel[2]);
            } else {
                row[x] = pixel[0];
                row[PlaneBytes + x] = pixel[1];
                row[2 * PlaneBytes + x] = pixel[2];
            }
        }
    }
    return true;
}

QByteArray FitsPlanes::videoFrame(const QImage& picture, bool mono) {
    if (picture.width() != Width || picture.height() != Height) {
        return {};
    }
    if (mono) {
        QByteArray plane(qsizetype(PlaneBytes), Qt::Uninitialized);
        fill(picture, true, reinterpret_cast<std::uint8_t*>(plane.data()), PlaneBytes);
        return plane;
    }
    // 1920-byte rows carry no padding, so the picture's bytes are the frame.
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    return {reinterpret_cast<const char*>(rgb.constBits()), qsizetype(3 * PlaneBytes)};
}

} // namespace lumenvale
