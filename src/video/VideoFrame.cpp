// Cutting the region out of a frame and putting its rows and colours in the video's order.
#include "video/VideoFrame.h"

#include <algorithm>

namespace lumenvale {

QRect VideoRegion(QSize size, QPoint centre) {
    const QRect picture(0, 0, AcquiredFrame::Width, AcquiredFrame::Height);
    if (size.isEmpty() || size.width() >= picture.width() || size.height() >= picture.height()) {
        return picture;
    }
    const int left = std::clamp(centre.x() - size.width() / 2, 0, picture.width() - size.width());
    const int top = std::clamp(centre.y() - size.height() / 2, 0, picture.height() - size.height());
    return {QPoint(left, top), size};
}

void CutVideoFrame(const AcquiredFrame& picture, const QRect& region, bool mono,
                   std::vector<std::uint8_t>& out) {
    const std::size_t width = std::size_t(region.width());
    out.resize(width * std::size_t(region.height()) * (mono ? 1 : 3));
    std::uint8_t* to = out.data();
    for (int y = region.top(); y <= region.bottom(); ++y) {
        // The frame holds the bottom line first, each pixel blue, green, red.
        const std::uint8_t* from =
            picture.storedRow(AcquiredFrame::Height - 1 - y) + std::size_t(region.left()) * 3;
        for (std::size_t x = 0; x < width; ++x, from += 3) {
            if (mono) {
                *to++ = Luminance(from[2], from[1], from[0]);
            } else {
                *to++ = from[2];
                *to++ = from[1];
                *to++ = from[0];
            }
        }
    }
}

} // namespace lumenvale
