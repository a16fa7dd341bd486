// RGB24 to the stored frame layout, with nearest-pixel scaling.
#include "platform/acquisition/Rgb24Conversion.h"

#include <array>

namespace lumenvale {

bool ConvertRgb24ToFrame(const std::uint8_t* rgb, int width, int height, std::size_t bytesPerLine,
                         AcquiredFrame& out) {
    if (rgb == nullptr || width <= 0 || height <= 0 || bytesPerLine < std::size_t(width) * 3) {
        return false;
    }
    constexpr int W = AcquiredFrame::Width;
    constexpr int H = AcquiredFrame::Height;
    std::array<std::size_t, W> sourceColumn{};
    for (int x = 0; x < W; ++x) {
        sourceColumn[std::size_t(x)] = std::size_t(x) * std::size_t(width) / W * 3;
    }
    for (int y = 0; y < H; ++y) {
        const std::uint8_t* line = rgb + std::size_t(y) * std::size_t(height) / H * bytesPerLine;
        std::uint8_t* dst = out.storedRow(H - 1 - y); // the file keeps the bottom line first
        for (int x = 0; x < W; ++x) {
            const std::uint8_t* px = line + sourceColumn[std::size_t(x)];
            dst[0] = px[2];
            dst[1] = px[1];
            dst[2] = px[0];
            dst += 3;
        }
    }
    return true;
}

} // namespace lumenvale
