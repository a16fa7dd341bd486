// A colour picture in floating point for the image work that adds, subtracts and resamples
// frames: red, green and blue values side by side, the top line first, in grey levels of the
// 8-bit frame (so a dark-subtracted sky may go below zero).
#pragma once

#include <QImage>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace lumenvale {

// The median of `values`, the upper middle one of an even count; reorders them. Not empty.
template <typename T> T MiddleValue(std::vector<T>& values) {
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

struct FloatPicture {
    int width = 0;
    int height = 0;
    std::vector<float> values; // 3 * width * height

    FloatPicture() = default;
    FloatPicture(int w, int h, float fill = 0) : width(w), height(h), values(Size(w, h), fill) {}

    static std::size_t Size(int w, int h) { return std::size_t(w) * std::size_t(h) * 3; }
    // Any picture, converted to 8-bit RGB first.
    static FloatPicture FromImage(const QImage& picture);

    bool empty() const { return values.empty(); }
    float* row(int y) { return values.data() + std::size_t(y) * std::size_t(width) * 3; }
    const float* row(int y) const {
        return values.data() + std::size_t(y) * std::size_t(width) * 3;
    }
    // The three colour values of each pixel added: the light a star detector looks at.
    std::vector<float> grey() const;
    // The median of the same colour in the eight pixels around value `index` (one colour of
    // one pixel): what a value that cannot be trusted is mended with.
    float neighbourMedian(std::size_t index) const;
};

} // namespace lumenvale
