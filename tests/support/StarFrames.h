// Frames of a made-up night sky for the focus tests: a flat sky with normal noise and round
// Gaussian stars of known width, sampled at the pixel centres as the simulated camera draws
// them, clipped to 0..255 as a sensor clips.
#pragma once

#include "frames/AcquiredFrame.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace lumenvale::test {

struct TestStar {
    double x = 0; // picture coordinates, from the top left
    double y = 0;
    double sigma = 1;
    double amplitude = 150; // per colour value, above the sky
};

inline AcquiredFrame StarFrame(const std::vector<TestStar>& stars, double sky = 30,
                               double noise = 2, std::uint32_t seed = 1) {
    std::mt19937 random(seed);
    std::normal_distribution<double> deviate(0, 1);
    AcquiredFrame frame;
    for (int y = 0; y < AcquiredFrame::Height; ++y) {
        std::uint8_t* row = frame.storedRow(AcquiredFrame::Height - 1 - y);
        for (int x = 0; x < AcquiredFrame::Width; ++x) {
            double light = sky;
            for (const TestStar& s : stars) {
                const double r2 = (x - s.x) * (x - s.x) + (y - s.y) * (y - s.y);
                light += s.amplitude * std::exp(-r2 / (2 * s.sigma * s.sigma));
            }
            for (int c = 0; c < 3; ++c) {
                const double v = std::round(light + noise * deviate(random));
                row[3 * x + c] = std::uint8_t(std::clamp(v, 0.0, 255.0));
            }
        }
    }
    return frame;
}

} // namespace lumenvale::test
