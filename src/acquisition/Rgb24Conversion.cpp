// RGB24 to the stored frame layout: centre 4:3 crop, then area averaging.
#include "acquisition/Rgb24Conversion.h"

#include <algorithm>
#include <vector>

namespace lumenvale {

namespace {

// The source pixels that one frame pixel covers, with the share of each.
struct Span {
    int first = 0;
    std::vector<float> weights;
};

// Frame pixels 0 .. `to` - 1 over source pixels `offset` .. `offset` + `from` - 1: pixel i
// covers the source interval [i * from / to, (i + 1) * from / to), weighted by the overlap.
std::vector<Span> spans(int from, int to, int offset) {
    std::vector<Span> out(static_cast<std::size_t>(to));
    const double scale = double(from) / to;
    for (int i = 0; i < to; ++i) {
        const double lo = i * scale;
        const double hi = (i + 1) * scale;
        Span& span = out[std::size_t(i)];
        const int first = int(lo);
        const int last = std::min(from - 1, int(hi - 1e-9));
        span.first = offset + first;
        for (int s = first; s <= last; ++s) {
            const double overlap = std::min(hi, s + 1.0) - std::max(lo, double(s));
            span.weights.push_back(float(overlap / scale));
        }
    }
    return out;
}

} // namespace

bool ConvertRgb24ToFrame(const std::uint8_t* rgb, int width, int height, std::size_t bytesPerLine,
                         AcquiredFrame& out) {
    if (rgb == nullptr || width <= 0 || height <= 0 || bytesPerLine < std::size_t(width) * 3) {
        return false;
    }
    constexpr int W = AcquiredFrame::Width;
    constexpr int H = AcquiredFrame::Height;
    // The centre 4:3 of the picture; a wide one loses its sides, a tall one its top and bottom.
    int cropWidth = width;
    int cropHeight = height;
    if (std::int64_t(width) * 3 > std::int64_t(height) * 4) {
        cropWidth = std::max(1, int(std::int64_t(height) * 4 / 3));
    } else if (std::int64_t(width) * 3 < std::int64_t(height) * 4) {
        cropHeight = std::max(1, int(std::int64_t(width) * 3 / 4));
    }
    const int left = (width - cropWidth) / 2;
    const int top = (height - cropHeight) / 2;

    const std::vector<Span> columns = spans(cropWidth, W, left);
    const std::vector<Span> rows = spans(cropHeight, H, top);
    // One frame line at a time: the source lines it covers are averaged across, then down.
    std::vector<float> line(std::size_t(W) * 3);
    for (int y = 0; y < H; ++y) {
        std::fill(line.begin(), line.end(), 0.0F);
        const Span& rowSpan = rows[std::size_t(y)];
        for (std::size_t r = 0; r < rowSpan.weights.size(); ++r) {
            const std::uint8_t* src = rgb + std::size_t(rowSpan.first + int(r)) * bytesPerLine;
            const float rowWeight = rowSpan.weights[r];
            float* acc = line.data();
            for (const Span& col : columns) {
                const std::uint8_t* px = src + std::size_t(col.first) * 3;
                float red = 0;
                float green = 0;
                float blue = 0;
                for (const float w : col.weights) {
                    red += w * px[0];
                    green += w * px[1];
                    blue += w * px[2];
                    px += 3;
                }
                acc[0] += rowWeight * red;
                acc[1] += rowWeight * green;
                acc[2] += rowWeight * blue;
                acc += 3;
            }
        }
        std::uint8_t* dst = out.storedRow(H - 1 - y); // the file keeps the bottom line first
        for (int x = 0; x < W; ++x) {
            const float* px = line.data() + std::size_t(x) * 3;
            dst[0] = std::uint8_t(std::clamp(px[2] + 0.5F, 0.0F, 255.0F));
            dst[1] = std::uint8_t(std::clamp(px[1] + 0.5F, 0.0F, 255.0F));
            dst[2] = std::uint8_t(std::clamp(px[0] + 0.5F, 0.0F, 255.0F));
            dst += 3;
        }
    }
    return true;
}

} // namespace lumenvale
