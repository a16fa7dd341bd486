// Triangle pairing by side ratios, votes for star pairs, and OpenCV's robust similarity fit.
#include "analysis/StarRegistration.h"

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace lumenvale {

namespace {

// A triangle of stars, its corners ordered by the length of the side facing them (shortest
// first), so two triangles of the same shape pair corner with corner.
struct Triangle {
    std::array<int, 3> corner{};
    double ratioShort = 0;  // shortest side / longest
    double ratioMiddle = 0; // middle side / longest
    double longest = 0;
};

// Triangles with a side under this are too small to pin an angle down.
constexpr double MinSide = 12;
// How close the side ratios of two triangles must be to count as the same shape.
constexpr double ShapeTolerance = 0.006;
// Frames of one night never change scale by more than this; pairing need not look further.
constexpr double ScaleSlack = 0.03;

std::vector<Triangle> Triangles(const std::vector<StarPoint>& stars) {
    const int n = std::min<int>(int(stars.size()), StarRegistration::TriangleStars);
    std::vector<Triangle> triangles;
    const auto distance = [&](int i, int j) {
        return std::hypot(stars[std::size_t(i)].x - stars[std::size_t(j)].x,
                          stars[std::size_t(i)].y - stars[std::size_t(j)].y);
    };
    for (int i = 0; i < n; ++i) {
        for (int j = i + 1; j < n; ++j) {
            for (int k = j + 1; k < n; ++k) {
                // Each side with the corner facing it.
                std::array<std::pair<double, int>, 3> sides{
                    {{distance(j, k), i}, {distance(i, k), j}, {distance(i, j), k}}};
                std::sort(sides.begin(), sides.end());
                if (sides[0].first < MinSide) {
                    continue;
                }
                Triangle t;
                t.corner = {sides[0].second, sides[1].second, sides[2].second};
                t.longest = sides[2].first;
                t.ratioShort = sides[0].first / t.longest;
                t.ratioMiddle = sides[1].first / t.longest;
                triangles.push_back(t);
            }
        }
    }
    std::sort(triangles.begin(), triangles.end(),
              [](const Triangle& p, const Triangle& q) { return p.ratioShort < q.ratioShort; });
    return triangles;
}

// Pairs of (frame star, reference star) that the triangles vote for, best supported first.
std::vector<std::pair<int, int>> VotedPairs(const std::vector<StarPoint>& reference,
                                            const std::vector<StarPoint>& frame) {
    const std::vector<Triangle> refTriangles = Triangles(reference);
    const std::vector<Triangle> frameTriangles = Triangles(frame);
    const int n = StarRegistration::TriangleStars;
    std::vector<int> votes(std::size_t(n) * std::size_t(n), 0);
    for (const Triangle& t : frameTriangles) {
        auto it = std::lower_bound(refTriangles.begin(), refTriangles.end(),
                                   t.ratioShort - ShapeTolerance,
                                   [](const Triangle& r, double v) { return r.ratioShort < v; });
        for (; it != refTriangles.end() && it->ratioShort <= t.ratioShort + ShapeTolerance; ++it) {
            if (std::abs(it->ratioMiddle - t.ratioMiddle) > ShapeTolerance ||
                std::abs(t.longest / it->longest - 1) > ScaleSlack) {
                continue;
            }
            for (std::size_t c = 0; c < 3; ++c) {
                ++votes[std::size_t(t.corner[c]) * std::size_t(n) + std::size_t(it->corner[c])];
            }
        }
    }
    std::vector<std::pair<int, int>> pairs;
    for (int f = 0; f < n; ++f) {
        int best = -1;
        int bestVotes = 1; // one triangle alone is chance
        for (int r = 0; r < n; ++r) {
            const int v = votes[std::size_t(f) * std::size_t(n) + std::size_t(r)];
            if (v > bestVotes) {
                bestVotes = v;
                best = r;
            }
        }
        if (best >= 0) {
            pairs.emplace_back(f, best);
        }
    }
    return pairs;
}

std::optional<Similarity> Fit(const std::vector<cv::Point2f>& from,
                              const std::vector<cv::Point2f>& to, double threshold,
                              std::vector<uchar>& inliers) {
    if (from.size() < 3) {
        return std::nullopt;
    }
    const cv::Mat m =
        cv::estimateAffinePartial2D(from, to, inliers, cv::RANSAC, threshold, 2000, 0.999, 20);
    if (m.empty()) {
        return std::nullopt;
    }
    Similarity s;
    s.a = m.at<double>(0, 0);
    s.b = m.at<double>(1, 0);
    s.tx = m.at<double>(0, 2);
    s.ty = m.at<double>(1, 2);
    return s;
}

cv::Point2f Point(const StarPoint& s) {
    return {float(s.x), float(s.y)};
}

} // namespace

double Similarity::scale() const {
    return std::hypot(a, b);
}

double Similarity::rotationDegrees() const {
    return std::atan2(b, a) * 180 / std::numbers::pi;
}

std::optional<Registration> StarRegistration::align(const std::vector<StarPoint>& reference,
                                                    const std::vector<StarPoint>& frame) {
    std::vector<cv::Point2f> from;
    std::vector<cv::Point2f> to;
    for (const auto& [f, r] : VotedPairs(reference, frame)) {
        from.push_back(Point(frame[std::size_t(f)]));
        to.push_back(Point(reference[std::size_t(r)]));
    }
    std::vector<uchar> inliers;
    const std::optional<Similarity> rough = Fit(from, to, 3.0, inliers);
    if (!rough) {
        return std::nullopt;
    }

    // Every star of the frame that lands next to one of the reference takes part in the fit,
    // not only the few the triangles were built from.
    from.clear();
    to.clear();
    std::vector<int> taken(reference.size(), 0);
    for (const StarPoint& s : frame) {
        const double x = rough->mapX(s.x, s.y);
        const double y = rough->mapY(s.x, s.y);
        int nearest = -1;
        double nearestDistance = MatchTolerance;
        for (std::size_t r = 0; r < reference.size(); ++r) {
            const double d = std::hypot(reference[r].x - x, reference[r].y - y);
            if (d < nearestDistance) {
                nearestDistance = d;
                nearest = int(r);
            }
        }
        if (nearest >= 0 && taken[std::size_t(nearest)] == 0) {
            taken[std::size_t(nearest)] = 1;
            from.push_back(Point(s));
            to.push_back(Point(reference[std::size_t(nearest)]));
        }
    }
    const std::optional<Similarity> fine = Fit(from, to, 1.0, inliers);
    if (!fine) {
        return std::nullopt;
    }
    return Registration{*fine, int(std::count(inliers.begin(), inliers.end(), uchar(1)))};
}

} // namespace lumenvale
