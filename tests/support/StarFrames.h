// Frames of a made-up night sky for the focus tests: a flat sky with normal noise and round
// stars of known size (Gaussian, Moffat, and the donut of a defocused telescope), sampled at
// the pixel centres as the simulated camera draws them, clipped to 0..255 as a sensor clips.
#pragma once

#include "frames/AcquiredFrame.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace lumenvale::test {

struct TestStar {
    double x = 0; // picture coordinates, from the top left
    double y = 0;
    double sigma = 1;
    double amplitude = 150; // per colour value, above the sky
};

// A frame of flat sky and normal noise (independent in each colour) with `light(x, y)` added,
// per colour value above the sky at the pixel's centre.
template <typename Light>
AcquiredFrame SkyFrame(Light light, double sky = 30, double noise = 2, std::uint32_t seed = 1) {
    std::mt19937 random(seed);
    std::normal_distribution<double> deviate(0, 1);
    AcquiredFrame frame;
    for (int y = 0; y < AcquiredFrame::Height; ++y) {
        std::uint8_t* row = frame.storedRow(AcquiredFrame::Height - 1 - y);
        for (int x = 0; x < AcquiredFrame::Width; ++x) {
            const double value = sky + light(x, y);
            for (int c = 0; c < 3; ++c) {
                const double v = std::round(value + noise * deviate(random));
                row[3 * x + c] = std::uint8_t(std::clamp(v, 0.0, 255.0));
            }
        }
    }
    return frame;
}

inline AcquiredFrame StarFrame(const std::vector<TestStar>& stars, double sky = 30,
                               double noise = 2, std::uint32_t seed = 1) {
    return SkyFrame(
        [&](int x, int y) {
            double light = 0;
            for (const TestStar& s : stars) {
                const double r2 = (x - s.x) * (x - s.x) + (y - s.y) * (y - s.y);
                light += s.amplitude * std::exp(-r2 / (2 * s.sigma * s.sigma));
            }
            return light;
        },
        sky, noise, seed);
}

// A webcam's binned frame as the program shows it: each line read out once, then doubled.
inline AcquiredFrame LinesDoubled(AcquiredFrame frame) {
    for (int row = 0; row + 1 < AcquiredFrame::Height; row += 2) {
        std::memcpy(frame.storedRow(row + 1), frame.storedRow(row), AcquiredFrame::RowBytes);
    }
    return frame;
}

// A long exposure's troubles around `stars`: the amplifier's glow in the top left corner,
// `glow` above the sky there and fading over 80 pixels, a sky 10 levels brighter on the right
// than on the left, and a few hot pixels.
inline AcquiredFrame GlowFrame(const std::vector<TestStar>& stars, double glow, bool binned,
                               std::uint32_t seed = 1) {
    constexpr int HotPixels[][2] = {{40, 400}, {200, 60}, {333, 222}, {600, 450}, {500, 100}};
    AcquiredFrame frame = SkyFrame(
        [&](int x, int y) {
            double light = glow * std::exp(-std::hypot(x, y) / 80) + 10.0 * x / 640;
            for (const TestStar& s : stars) {
                const double r2 = (x - s.x) * (x - s.x) + (y - s.y) * (y - s.y);
                light += s.amplitude * std::exp(-r2 / (2 * s.sigma * s.sigma));
            }
            for (const auto& hot : HotPixels) {
                light += x == hot[0] && y == hot[1] ? 200 : 0;
            }
            return light;
        },
        20, 3, seed);
    return binned ? LinesDoubled(std::move(frame)) : frame;
}

// A seeing-limited star: light falling as (1 + r^2 / alpha^2)^-beta, `amplitude` at the centre.
struct MoffatStar {
    double x = 0;
    double y = 0;
    double alpha = 1;
    double beta = 2.5;
    double amplitude = 150;

    double operator()(int px, int py) const {
        const double r2 = (px - x) * (px - x) + (py - y) * (py - y);
        return amplitude * std::pow(1 + r2 / (alpha * alpha), -beta);
    }
    // Half of the light lies within alpha sqrt(2^(1 / (beta - 1)) - 1).
    double hfd() const { return 2 * alpha * std::sqrt(std::pow(2, 1 / (beta - 1)) - 1); }
};

// A star far out of focus in a telescope with a central obstruction: an even ring of light
// between `inner` and `outer`, each pixel lit by the share of it the ring covers.
struct DonutStar {
    double x = 0;
    double y = 0;
    double outer = 10;
    double inner = 3.5;
    double brightness = 30; // per colour value above the sky, where the ring covers a pixel

    double operator()(int px, int py) const {
        if (std::hypot(px - x, py - y) > outer + 1) {
            return 0.0;
        }
        constexpr int Steps = 4;
        int inside = 0;
        for (int i = 0; i < Steps; ++i) {
            for (int j = 0; j < Steps; ++j) {
                const double dx = px - 0.5 + (i + 0.5) / Steps - x;
                const double dy = py - 0.5 + (j + 0.5) / Steps - y;
                const double r2 = dx * dx + dy * dy;
                inside += r2 < outer * outer && r2 >= inner * inner ? 1 : 0;
            }
        }
        return brightness * inside / (Steps * Steps);
    }
    // Half of an even ring's light lies within the root mean square of its radii.
    double hfd() const { return 2 * std::sqrt((outer * outer + inner * inner) / 2); }
    double light() const { return brightness * M_PI * (outer * outer - inner * inner); }
};

} // namespace lumenvale::test
