// Finding the brightest stars of a frame and their centres to a small fraction of a pixel, for
// aligning frames on their stars. Works on the summed colours, against a sky that may vary
// across the frame (the amplifier's glow, the horizon); single hot pixels are not stars.
#pragma once

#include <vector>

namespace lumenvale {

struct FloatPicture;

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
    static constexpr double DetectionSigma = 6;
    // Stars this close to the edge are left out: their light is cut off.
    static constexpr int EdgeMargin = 8;

    // The brightest `maxStars` stars, brightest first.
    static std::vector<StarPoint> find(const FloatPicture& picture, int maxStars);
    // The same on summed colours, `width` x `height`, the top line first.
    static std::vector<StarPoint> find(const std::vector<float>& grey, int width, int height,
                                       int maxStars);
};

} // namespace lumenvale
