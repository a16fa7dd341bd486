// Converting frames to floating point and summing their colours.
#include "analysis/FloatPicture.h"

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

} // namespace lumenvale
