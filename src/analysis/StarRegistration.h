// Aligning a frame on a reference by their stars: triangles of the brightest stars paired by
// their shapes, which a turn and a shift leave unchanged, give the star pairs; a similarity
// (shift, turn, scale) fitted by least squares over every paired star gives the alignment.
#pragma once

#include "analysis/StarFinder.h"

#include <optional>
#include <utility>
#include <vector>

namespace lumenvale {

// Maps frame coordinates onto reference coordinates:
// x' = a x - b y + tx,  y' = b x + a y + ty.
struct Similarity {
    double a = 1;
    double b = 0;
    double tx = 0;
    double ty = 0;

    double scale() const;
    double rotationDegrees() const;
    double mapX(double x, double y) const { return a * x - b * y + tx; }
    double mapY(double x, double y) const { return b * x + a * y + ty; }
};

struct Registration {
    Similarity transform;
    int matchedStars = 0;                   // the stars the least-squares fit kept
    std::vector<std::pair<int, int>> pairs; // theirs: (frame star, reference star) indices
};

class StarRegistration {
public:
    // Triangles are built from this many of the brightest stars of each side.
    static constexpr int TriangleStars = 15;
    // How far, in pixels, a paired star may lie from where the alignment puts it.
    static constexpr double MatchTolerance = 1.5;

    // Nothing when fewer than three stars can be paired at all.
    static std::optional<Registration> align(const std::vector<StarPoint>& reference,
                                             const std::vector<StarPoint>& frame);
};

} // namespace lumenvale
