// One acquired 640 x 480 frame, held as the frame file stores it: bottom-up rows of blue,
// green, red bytes, so writing it out is one header and one block copy.
#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumenvale {

class AcquiredFrame {
public:
    static constexpr int Width = 640;
    static constexpr int Height = 480;
    static constexpr std::size_t RowBytes = 1920; // no padding: 1920 is a multiple of 4
    static constexpr std::size_t PixelBytes = RowBytes * Height;

    AcquiredFrame() : pixels_(PixelBytes) {}

    // Stored row 0 is the bottom line of the picture.
    std::uint8_t* storedRow(int row) { return pixels_.data() + RowBytes * std::size_t(row); }
    const std::uint8_t* storedRow(int row) const {
        return pixels_.data() + RowBytes * std::size_t(row);
    }
    const std::vector<std::uint8_t>& pixels() const { return pixels_; }

    // The picture the right way up, for the live preview.
    QImage toImage() const;

private:
    std::vector<std::uint8_t> pixels_;
};

// The grey level a colour pixel shows as, wherever the program turns colour into mono:
// 0.299 R + 0.587 G + 0.114 B, rounded.
std::uint8_t Luminance(std::uint8_t r, std::uint8_t g, std::uint8_t b);

} // namespace lumenvale
