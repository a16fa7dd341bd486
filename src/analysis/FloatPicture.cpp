// Converting frames to floating point and summing their colours.
#include "analysis/FloatPicture.h"

#include <algorithm>
#include <array>

namespace lumenvale {

FloatPicture FloatPicture::FromImage(const QImage& picture) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    FloatPicture out(rgb.width(), rgb.height());
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* in = rgb.constScanLine(y);
        float* row = out.row(y);
        for (int i = 0; i < rgb.width() * 3; ++i) {
            row[i] = float(in[i]);
        }
    }
    return out;
}

std::vector<float> FloatPicture::grey() const {
    std::vector<float> sum(std::size_t(width) * std::size_t(height));
    for (std::size_t i = 0; i < sum.size(); ++i) {
        sum[i] = values[3 * i] + values[3 * i + 1] + values[3 * i + 2];
    }
    return sum;
}

float FloatPicture::neighbourMedian(std::size_t index) const {
    const std::size_t pixel = index / 3;
    const std::size_t colour = index % 3;
    const int x = int(pixel % std::size_t(width));
    const int y = int(pixel / std::size_t(width));
    std::array<float, 8> around{};
    std::size_t n = 0;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const int px = x + dx;
            const int py = y + dy;
            if ((dx == 0 && dy == 0) || px < 0 || py < 0 || px >= width || py >= height) {
                continue;
            }
            around[n++] = row(py)[3 * px + int(colour)];
        }
    }
    const auto middle = around.begin() + std::ptrdiff_t(n / 2);
    std::nth_element(around.begin(), middle, around.begin() + std::ptrdiff_t(n));
    return *middle;
}

} // namespace lumenvale
