// Levels from the frame's histogram, and applying them through a table.
#include "analysis/DisplayStretch.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace lumenvale {

DisplayStretch::Levels DisplayStretch::automatic(const AcquiredFrame& frame) {
    std::array<std::size_t, 256> counts{};
    for (const std::uint8_t v : frame.pixels()) {
        ++counts[v];
    }
    const std::size_t total = frame.pixels().size();
    const auto level = [&](double share) {
        const auto wanted = std::size_t(share * double(total));
        std::size_t seen = 0;
        for (int v = 0; v < 256; ++v) {
            seen += counts[std::size_t(v)];
            if (seen > wanted) {
                return v;
            }
        }
        return 255;
    };
    const int median = level(0.5);
    const int high = level(WhitePercentile / 100);
    Levels levels;
    // The sky sits just above black, so its noise and the faintest stars still show.
    levels.black = std::max(0, median - (high - median) / 10);
    levels.white = std::max(high, levels.black + MinSpan);
    return levels;
}

QImage DisplayStretch::apply(QImage picture, Levels levels) {
    if (picture.format() != QImage::Format_BGR888 && picture.format() != QImage::Format_RGB888) {
        picture.convertTo(QImage::Format_RGB888);
    }
    const int span = std::max(1, levels.white - levels.black);
    std::array<std::uint8_t, 256> table{};
    for (int v = 0; v < 256; ++v) {
        table[std::size_t(v)] = std::uint8_t(std::clamp((v - levels.black) * 255 / span, 0, 255));
    }
    const int rowBytes = picture.width() * 3;
    for (int y = 0; y < picture.height(); ++y) {
        std::uint8_t* row = picture.scanLine(y);
        for (int i = 0; i < rowBytes; ++i) {
            row[i] = table[row[i]];
        }
    }
    return picture;
}

} // namespace lumenvale
