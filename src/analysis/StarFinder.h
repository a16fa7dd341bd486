// Finding the stars of a frame: the one detection the focus aid measures and the live stack
// aligns on. The sky and its noise by blocks, local peaks of 3 x 3 sums standing out of the
// noise, and the whole patch of light joined to each peak, so a wide defocused ring (a donut)
// is one star. Hot pixels, trails, patches cut off by the frame's edge and diffuse light (the
// amplifier's glow, a gradient, a Moon-lit corner, nebulosity) are passed over: a star is a
// compact patch of light on an even sky, however bright or faint.
#pragma once

#include <QPoint>
#include <QPointF>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace lumenvale {

struct FloatPicture;

// A patch of light taken for a star, as found; not yet measured.
struct StarPatch {
    QPointF centre;           // centroid of its light above the sky, pixels from the top left
    double light = 0;         // its grey light above the sky (the three colours summed)
    double extent = 0;        // the farthest of its pixels from the centre
    QPoint peak;              // the highest of its 3 x 3 sums
    std::uint16_t number = 0; // its pixels' mark in `owner`
    std::size_t first = 0;    // its pixels in the finder's `pixels`
    std::size_t count = 0;
};

// A star measured for aligning frames.
struct StarPoint {
    double x = 0; // picture coordinates: pixels from the top left, a pixel's centre at .0
    double y = 0;
    double flux = 0; // summed light above the sky
    // From the light's second moments, as a Gaussian star's: the full width at half maximum of
    // a round star of the same area, in pixels, and the long axis over the short one.
    double fwhm = 0;
    double elongation = 1;
};

class StarFinder {
public:
    // A star's 3 x 3 light must stand this many noise deviations above the sky.
    static constexpr double DetectionSigma = 5;
    // How far a star is looked for around a given point, from its edge for a wide one.
    static constexpr double PickRadius = 24;
    // A patch this wide (a disc of this radius) is no star: the Moon, a lit cloud.
    static constexpr double MaxRadius = 64;

    // Every star of a grey picture (the three colour values of each pixel added), `width` x
    // `height`, the top line first; brightest (most light) first. With `near`, only the stars
    // within `reach` of it; those farther than three times PickRadius are found for their
    // pixels only, and not told from diffuse light. `grey` must outlive the finder's use.
    const std::vector<StarPatch>& detect(const std::vector<float>& grey, int width, int height,
                                         std::optional<QPointF> near = std::nullopt,
                                         double reach = 0);
    const std::vector<StarPatch>& stars() const { return stars_; }

    // The sky of the last picture at a pixel, between the centres of its blocks.
    double skyAt(int x, int y) const;
    // The noise of one grey pixel of the last picture.
    double noise() const { return noise_; }
    // Every star's pixels, as indexes y * width + x; a star's are `count` from its `first`.
    const std::vector<int>& pixels() const { return claimed_; }
    // Whose a pixel of the last picture is: a star's `number`, NotAStar for light passed over,
    // 0 for the sky.
    static constexpr std::uint16_t NotAStar = 0xffff;
    std::uint16_t owner(int x, int y) const {
        return owner_[std::size_t(y) * std::size_t(width_) + std::size_t(x)];
    }

    // For aligning frames: the brightest `maxStars` round stars clear of the edge, their
    // centres to a small fraction of a pixel; brightest first.
    static std::vector<StarPoint> find(const FloatPicture& picture, int maxStars);
    static std::vector<StarPoint> find(const std::vector<float>& grey, int width, int height,
                                       int maxStars);

private:
    struct Peak {
        int x = 0;
        int y = 0;
        float light = 0; // of the 3 x 3 pixels around it, above the sky
    };
    void estimateSky();
    void findPeaks();
    bool lonePixel(int x, int y, float light) const;
    std::optional<StarPatch> fill(const Peak& seed, std::uint16_t number);
    bool compact(const StarPatch& star);

    const std::vector<float>* grey_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    int blocksX_ = 1;
    int blocksY_ = 1;
    std::vector<float> blockSky_;
    double noise_ = 1;
    std::vector<float> box_; // 3 x 3 sums of grey, zero along the edge
    std::vector<float> scratch_;
    std::array<std::vector<float>, 4> sides_; // the sky around a star, on each of its sides
    std::vector<float> near_;                 // all around it
    std::vector<Peak> peaks_;
    std::vector<StarPatch> stars_;
    std::vector<std::uint16_t> owner_;
    std::vector<int> claimed_; // the pixels of owner_ that are set
    std::vector<int> pending_; // the flood fill's queue
};

} // namespace lumenvale
