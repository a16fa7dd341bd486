// Turning a frame into a picture for the preview.
#include "frames/AcquiredFrame.h"

#include <cmath>

namespace lumenvale {

QImage AcquiredFrame::toImage() const {
    // Flipping while copying also detaches the picture from our buffer.
    const QImage view(pixels_.data(), Width, Height, int(RowBytes), QImage::Format_BGR888);
    return view.mirrored(false, true);
}

std::uint8_t Luminance(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return std::uint8_t(std::lround(0.299 * r + 0.587 * g + 0.114 * b));
}

} // namespace lumenvale
