// Finding one star in a live frame and measuring how sharp it is: its half-flux diameter and
// FWHM, its peak and whether it is saturated, all against the sky around it.
#pragma once

#include "frames/AcquiredFrame.h"

#include <QPointF>

#include <cstdint>
#include <optional>
#include <vector>

namespace lumenvale {

class FocusMeasure {
public:
    struct Star {
        QPointF centre;        // picture coordinates, pixels from the top left corner
        double hfd = 0;        // half-flux diameter, pixels
        double fwhm = 0;       // full width at half maximum, pixels
        int peak = 0;          // the highest colour value in the star's core, 0 to 255
        double background = 0; // the sky around the star, per colour value
        bool saturated = false;
    };

    // A colour value this high has clipped; compressed webcam streams rarely reach 255 itself.
    static constexpr int SaturatedLevel = 250;
    // How far from a clicked point a star is looked for.
    static constexpr double PickRadius = 24;

    // The brightest unsaturated star; when every star is saturated, the brightest one.
    // Nothing when the frame shows no star.
    std::optional<Star> measure(const AcquiredFrame& frame);
    // The star nearest `near`, saturated or not, if one lies within PickRadius of it.
    std::optional<Star> measure(const AcquiredFrame& frame, QPointF near);

private:
    struct Candidate {
        int x = 0;
        int y = 0;
        int score = 0; // light of the 3 x 3 pixels around it above the sky
    };
    struct Fit {
        double x = 0;
        double y = 0;
        double sigma = 0;
        double amplitude = 0; // grey level above the sky at the centre
    };

    void findCandidates(const AcquiredFrame& frame);
    void estimateSky();
    double skyAt(int x, int y) const;
    int brightestColour(int x, int y) const;
    bool coreSaturated(int x, int y) const;
    std::optional<Star> measureAt(const Candidate& at);
    std::optional<Fit> fitGaussian(double cx, double cy, double radius, double sky,
                                   const std::optional<Fit>& previous) const;
    double ringMedian(double cx, double cy, double inner, double outer);
    double halfFluxDiameter(double cx, double cy, double radius, double sky);

    const AcquiredFrame* frame_ = nullptr; // the frame being measured
    // The frame the right way up, each pixel the sum of its three colour values.
    std::vector<std::uint16_t> grey_;
    // Sums of 3 x 3 grey pixels, for finding stars above the noise.
    std::vector<std::uint16_t> box_;
    // The sky of each block of the frame, and the noise of one grey pixel.
    std::vector<float> blockSky_;
    double noise_ = 1;
    std::vector<Candidate> candidates_;
    std::vector<std::uint16_t> scratch_;
    std::vector<std::pair<float, float>> ring_; // distance and light, for the half-flux radius
};

} // namespace lumenvale
