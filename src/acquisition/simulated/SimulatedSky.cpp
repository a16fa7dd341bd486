// Building the simulated sky.
#include "acquisition/simulated/SimulatedSky.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace lumenvale {

namespace {

// A small, fully specified generator, so the star field is the same with every library.
class SplitMix {
public:
    explicit SplitMix(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // In (0, 1].
    float unit() { return float((next() >> 40) + 1) / float(1ULL << 24); }

private:
    std::uint64_t state_;
};

constexpr std::uint64_t SkySeed = 0x4C756D656E76616CULL;
constexpr int StarCount = 1500;
// Total light of the faintest star, grey levels per second; the brightest is 2000 times more.
constexpr float FaintestStarFlux = 10.0F;
constexpr float StarFluxRange = 2000.0F;
constexpr float StarSigma = 1.2F; // seeing, in pixels

// Light pollution: weaker at the top of the picture, stronger near the horizon at the bottom.
constexpr float SkyRateTop = 4.0F;
constexpr float SkyRateBottom = 8.0F;
constexpr float SkyTint[3] = {0.85F, 1.0F, 1.15F}; // sodium lamps: more red than blue

// The amplifier sits beside the top left corner of the sensor.
constexpr float GlowRate = 150.0F;
constexpr float GlowFalloff = 80.0F; // pixels
constexpr float GlowTint[3] = {0.9F, 0.7F, 1.0F};

} // namespace

SimulatedSky::SimulatedSky()
    : light_(std::size_t(RowValues) * Height), glow_(std::size_t(RowValues) * Height) {
    addBackground();
    addNebula(430.0F, 300.0F, 45.0F, 3.0F, {0.55F, 0.5F, 1.0F});
    addNebula(150.0F, 120.0F, 30.0F, 2.0F, {1.0F, 0.9F, 0.6F});
    addStars();
    addGlow();
}

void SimulatedSky::addBackground() {
    for (int row = 0; row < Height; ++row) {
        const float rate = SkyRateBottom + (SkyRateTop - SkyRateBottom) * float(row) / (Height - 1);
        float* values = light_.data() + std::ptrdiff_t(RowValues) * row;
        for (int x = 0; x < Width; ++x) {
            for (int c = 0; c < 3; ++c) {
                values[3 * x + c] = rate * SkyTint[c];
            }
        }
    }
}

// (cx, cy) in picture coordinates, y counted from the top.
void SimulatedSky::addNebula(float cx, float cy, float radius, float rate, const float (&tint)[3]) {
    const int reach = int(radius * 3);
    for (int y = std::max(0, int(cy) - reach); y < std::min(Height, int(cy) + reach); ++y) {
        float* values = light_.data() + std::ptrdiff_t(RowValues) * (Height - 1 - y);
        for (int x = std::max(0, int(cx) - reach); x < std::min(Width, int(cx) + reach); ++x) {
            // Stretched a little, so it reads as a nebula and not a bloated star.
            const float dx = (float(x) - cx) / 1.6F;
            const float dy = float(y) - cy;
            const float v = rate * std::exp(-(dx * dx + dy * dy) / (2 * radius * radius));
            for (int c = 0; c < 3; ++c) {
                values[3 * x + c] += v * tint[c];
            }
        }
    }
}

void SimulatedSky::addStars() {
    SplitMix random(SkySeed);
    for (int i = 0; i < StarCount; ++i) {
        const float x = random.unit() * (Width - 1);
        const float y = random.unit() * (Height - 1);
        // Faint stars far outnumber bright ones: flux ~ u^-1.5 gives about 2.5 times as
        // many stars for each magnitude fainter.
        const float flux = std::min(FaintestStarFlux * std::pow(random.unit(), -1.5F),
                                    FaintestStarFlux * StarFluxRange);
        // Colour from blue-white to orange.
        const float warmth = random.unit();
        const float tint[3] = {1.2F - 0.5F * warmth, 1.0F, 0.8F + 0.5F * warmth};
        addStar(x, y, flux, StarSigma, tint);
        if (flux > 200 * FaintestStarFlux) {
            // Bright stars scatter a wide halo in the optics.
            addStar(x, y, flux * 0.04F, StarSigma * 3.5F, tint);
        }
    }
}

void SimulatedSky::addStar(float cx, float cy, float flux, float sigma, const float (&tint)[3]) {
    const int reach = int(std::ceil(sigma * 3.5F));
    const float peak = flux / (2 * 3.14159265F * sigma * sigma);
    for (int y = std::max(0, int(cy) - reach); y <= std::min(Height - 1, int(cy) + reach); ++y) {
        float* values = light_.data() + std::ptrdiff_t(RowValues) * (Height - 1 - y);
        for (int x = std::max(0, int(cx) - reach); x <= std::min(Width - 1, int(cx) + reach); ++x) {
            const float dx = float(x) - cx;
            const float dy = float(y) - cy;
            const float v = peak * std::exp(-(dx * dx + dy * dy) / (2 * sigma * sigma));
            for (int c = 0; c < 3; ++c) {
                values[3 * x + c] += v * tint[c];
            }
        }
    }
}

void SimulatedSky::addGlow() {
    for (int y = 0; y < Height; ++y) {
        float* values = glow_.data() + std::ptrdiff_t(RowValues) * (Height - 1 - y);
        for (int x = 0; x < Width; ++x) {
            const float d = std::sqrt(float(x * x + y * y));
            const float v = GlowRate * std::exp(-d / GlowFalloff);
            for (int c = 0; c < 3; ++c) {
                values[3 * x + c] = v * GlowTint[c];
            }
        }
    }
}

} // namespace lumenvale
