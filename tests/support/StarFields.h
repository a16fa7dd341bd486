// Star fields for the live stack's tests: one fixed set of stars seen through a known turn and
// shift, on a flat sky with normal noise, counted in whole grey levels and clipped as an 8-bit
// frame is.
#pragma once

#include "analysis/FloatPicture.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace lumenvale::test {

struct FieldStar {
    double x = 0; // where the first frame sees it
    double y = 0;
    double amplitude = 100;
};

// How a frame sees the sky compared with the first frame: turned by `degrees` about the
// picture's centre, then shifted by (dx, dy), then scaled by `scale` about the centre.
struct FieldView {
    double dx = 0;
    double dy = 0;
    double degrees = 0;
    double scale = 1;
    // The stars' light and their widths along x and y against the first frame's, each star's
    // light spread over its width: cloud dims the stars, a trailing mount stretches them, lost
    // focus widens them.
    double transparency = 1;
    double widthX = 1;
    double widthY = 1;

    // Where a point of the first frame lands in this frame.
    void map(double x, double y, double& fx, double& fy) const {
        const double c = std::cos(degrees * std::numbers::pi / 180) * scale;
        const double s = std::sin(degrees * std::numbers::pi / 180) * scale;
        const double cx = 319.5;
        const double cy = 239.5;
        fx = c * (x - cx) - s * (y - cy) + cx + dx;
        fy = s * (x - cx) + c * (y - cy) + cy + dy;
    }
};

// `count` stars spread over a field larger than the frame, so that a shifted view still has
// stars in every corner; amplitudes from faint to bright.
inline std::vector<FieldStar> RandomStars(int count, std::uint32_t seed = 7) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> x(-60, 700);
    std::uniform_real_distribution<double> y(-60, 540);
    std::uniform_real_distribution<double> brightness(0, 1);
    std::vector<FieldStar> stars;
    for (int i = 0; i < count; ++i) {
        stars.push_back({x(random), y(random), 25 + 180 * std::pow(brightness(random), 3)});
    }
    return stars;
}

inline constexpr double FieldStarSigma = 1.4;

// The view of `stars` with sky level `sky` and noise `noise` per colour value.
inline FloatPicture StarField(const std::vector<FieldStar>& stars, const FieldView& view,
                              double sky = 30, double noise = 2, std::uint32_t seed = 1) {
    FloatPicture light(640, 480, float(sky));
    for (const FieldStar& star : stars) {
        double fx = 0;
        double fy = 0;
        view.map(star.x, star.y, fx, fy);
        const double sx = FieldStarSigma * view.widthX;
        const double sy = FieldStarSigma * view.widthY;
        const double amplitude = star.amplitude * view.transparency / (view.widthX * view.widthY);
        const int r = int(std::ceil(5 * std::max(sx, sy)));
        for (int y = std::max(0, int(fy) - r); y <= std::min(479, int(fy) + r); ++y) {
            for (int x = std::max(0, int(fx) - r); x <= std::min(639, int(fx) + r); ++x) {
                const double e2 = (x - fx) * (x - fx) / (sx * sx) + (y - fy) * (y - fy) / (sy * sy);
                const auto add = float(amplitude * std::exp(-e2 / 2));
                for (int c = 0; c < 3; ++c) {
                    light.row(y)[3 * x + c] += add;
                }
            }
        }
    }
    std::mt19937 random(seed);
    std::normal_distribution<float> deviate(0, float(noise));
    for (float& v : light.values) {
        v = std::clamp(std::round(v + deviate(random)), 0.0F, 255.0F);
    }
    return light;
}

// The 8-bit picture the viewer would show of `picture`.
inline QImage PictureOf(const FloatPicture& picture) {
    QImage image(picture.width, picture.height, QImage::Format_RGB888);
    for (int y = 0; y < picture.height; ++y) {
        for (int i = 0; i < picture.width * 3; ++i) {
            image.scanLine(y)[i] = uchar(std::lround(std::clamp(picture.row(y)[i], 0.0F, 255.0F)));
        }
    }
    return image;
}

} // namespace lumenvale::test
