// Finding the stars in a live frame and measuring how sharp one is: its half-flux diameter from
// the curve of growth of its light, its FWHM where a fit means something, its peak and whether
// it has clipped, all against the sky around it. Works alike for a sharp star, a clipped one
// and the defocused ring ("donut") of a telescope with a central obstruction.
#pragma once

#include "frames/AcquiredFrame.h"

#include <QPointF>

#include <cstdint>
#include <optional>
#include <vector>

namespace lumenvale {

class FocusMeasure {
public:
    // A patch of light standing out of the sky, as found; not yet measured.
    struct Detection {
        QPointF centre;    // centroid of its light above the sky
        double light = 0;  // its light above the sky, summed over its three colours
        double extent = 0; // the farthest of its pixels from the centre
        int peak = 0;      // its highest colour value, 0 to 255
        bool saturated = false;
        std::uint16_t patch = 0; // which pixels are its own, for measuring it
    };

    struct Star {
        QPointF centre;        // picture coordinates, pixels from the top left corner
        double hfd = 0;        // half-flux diameter, pixels
        double fwhm = 0;       // from a Gaussian fit (on the wings when clipped); 0 with no fit
        int peak = 0;          // the highest colour value of the star, 0 to 255
        double background = 0; // the sky around the star, per colour value
        bool saturated = false;
        bool donut = false; // defocused: a ring of light around a darker centre

        // Only a compact star that has not clipped has a width a Gaussian fit tells.
        bool fwhmMeaningful() const { return !saturated && !donut && fwhm > 0; }
    };

    // A colour value this high has clipped; compressed webcam streams rarely reach 255 itself.
    static constexpr int SaturatedLevel = 250;
    // How far from a clicked point a star is looked for (from its edge, for a wide one).
    static constexpr double PickRadius = 24;
    // The curve of growth is followed out to this radius at most.
    static constexpr double MaxAperture = 64;

    // Every star of the frame, brightest (most light) first. Hot pixels are not stars.
    const std::vector<Detection>& detect(const AcquiredFrame& frame);

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
    // The patches of the candidates found, every one or those near a point.
    void findPatches(std::optional<QPointF> near);
    std::optional<Detection> fill(const Candidate& seed, std::uint16_t patch);
    bool neighbour(int x, int y) const;
    std::optional<Star> measureAt(const Detection& found);
    std::optional<Fit> fitGaussian(double cx, double cy, double radius, double sky,
                                   const std::optional<Fit>& previous) const;
    std::optional<Fit> fitFrom(double cx, double cy, double sky) const;
    double clippedRingMean(double cx, double cy, double inner, double outer);
    QPointF centroid(QPointF centre, double radius, double sky) const;
    void profile(QPointF centre);
    double growAperture(double from, double sky) const;
    double halfFluxDiameter(QPointF centre, double radius, double sky);

    const AcquiredFrame* frame_ = nullptr; // the frame being measured
    // The frame the right way up, each pixel the sum of its three colour values.
    std::vector<std::uint16_t> grey_;
    // Sums of 3 x 3 grey pixels, for finding stars above the noise.
    std::vector<std::uint16_t> box_;
    // The sky of each block of the frame, and the noise of one grey pixel.
    std::vector<float> blockSky_;
    double noise_ = 1;
    std::vector<Candidate> candidates_;
    std::vector<Detection> detections_;
    // Which detection each pixel belongs to (0: none), and the one being measured.
    std::vector<std::uint16_t> owner_;
    std::uint16_t measuring_ = 0;
    std::vector<int> claimed_; // the pixels of owner_ that are set
    std::vector<int> pending_; // the flood fill's queue
    std::vector<std::uint16_t> scratch_;
    // Around the centre being measured: grey light and pixel count in rings one pixel wide,
    // and every pixel's distance and grey value for the half-flux radius.
    std::vector<double> ringLight_;
    std::vector<int> ringPixels_;
    std::vector<std::pair<float, float>> ring_;
};

} // namespace lumenvale
