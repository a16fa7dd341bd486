// Measuring how sharp a star of a live frame is: its half-flux diameter from
// the curve of growth of its light, its FWHM where a fit means something, its peak and whether
// it has clipped, all against the sky around it. Works alike for a sharp star, a clipped one
// and the defocused ring ("donut") of a telescope with a central obstruction.
#pragma once

#include "analysis/StarFinder.h"
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
    static constexpr double PickRadius = StarFinder::PickRadius;
    // The curve of growth is followed out to this radius at most.
    static constexpr double MaxAperture = 64;

    // The brightest unsaturated star; when every star is saturated, the brightest one.
    // Nothing when the frame shows no star.
    std::optional<Star> measure(const AcquiredFrame& frame);
    // The star nearest `near`, saturated or not, if one lies within PickRadius of it (from its
    // edge, so a click anywhere on a wide donut picks it).
    std::optional<Star> measure(const AcquiredFrame& frame, QPointF near);
    // The star whose centre lies nearest `centre`, if one lies within `radius` of it: the same
    // star as before, found again however its size changed.
    std::optional<Star> follow(const AcquiredFrame& frame, QPointF centre, double radius);
    // The other stars within PickRadius of the star last measured, which a click there might
    // have meant; none when no star was measured.
    const std::vector<StarPatch>& others() const { return others_; }

private:
    struct Fit {
        double x = 0;
        double y = 0;
        double sigma = 0;
        double amplitude = 0; // grey level above the sky at the centre
    };

    void readGrey(const AcquiredFrame& frame);
    // The first star that measures among those found within `limit` of `near` by `distance`
    // (nearest first, the centre's distance breaking ties).
    template <typename Distance>
    std::optional<Star> measureNear(const AcquiredFrame& frame, QPointF near, Distance distance,
                                    double limit);
    std::optional<Star> measured(std::optional<Star> star);
    int brightestColour(int x, int y) const;
    // The highest colour value of a star's pixels.
    int peakOf(const StarPatch& found) const;
    bool neighbour(int x, int y) const;
    std::optional<Star> measureAt(const StarPatch& found);
    std::optional<Fit> fitGaussian(double cx, double cy, double radius, double sky,
                                   const std::optional<Fit>& previous) const;
    std::optional<Fit> fitFrom(double cx, double cy, double sky) const;
    double clippedRingMean(double cx, double cy, double inner, double outer);
    QPointF centroid(QPointF centre, double radius, double sky) const;
    void profile(QPointF centre);
    double growAperture(double from, double most, double sky) const;
    double halfFluxDiameter(QPointF centre, double radius, double sky);

    const AcquiredFrame* frame_ = nullptr; // the frame being measured
    // The frame the right way up, each pixel the sum of its three colour values.
    std::vector<float> grey_;
    StarFinder finder_;
    double noise_ = 1;            // of one grey pixel
    std::uint16_t measuring_ = 0; // the star being measured, by its mark in the finder
    std::vector<float> ringValues_;
    std::vector<StarPatch> others_;
    // Around the centre being measured: grey light and pixel count in rings one pixel wide,
    // and every pixel's distance and grey value for the half-flux radius.
    std::vector<double> ringLight_;
    std::vector<int> ringPixels_;
    std::vector<std::pair<float, float>> ring_;
};

} // namespace lumenvale
