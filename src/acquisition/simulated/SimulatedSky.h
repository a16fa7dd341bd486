// The night sky the simulated camera looks at: a fixed star field with a sky background that
// brightens towards the horizon, two faint nebulae, and the glow of the camera's amplifier in
// one corner. Built once, the same in every run, so pictures and tests are repeatable.
#pragma once

#include <cstddef>
#include <vector>

namespace lumenvale {

class SimulatedSky {
public:
    static constexpr int Width = 640;
    static constexpr int Height = 480;
    static constexpr int RowValues = Width * 3; // blue, green, red

    SimulatedSky();

    // Light reaching stored row `row` (0 = bottom line of the picture), in grey levels per
    // second for each of the 1920 colour values of the row.
    const float* light(int row) const { return light_.data() + std::ptrdiff_t(RowValues) * row; }
    // Amplifier glow on stored row `row`, in grey levels per second, laid out like light().
    const float* glow(int row) const { return glow_.data() + std::ptrdiff_t(RowValues) * row; }

private:
    void addBackground();
    void addNebula(float cx, float cy, float radius, float rate, const float (&tint)[3]);
    void addStars();
    void addStar(float x, float y, float flux, float sigma, const float (&tint)[3]);
    void addGlow();

    std::vector<float> light_;
    std::vector<float> glow_;
};

} // namespace lumenvale
