// Triangle pairing by side ratios, votes for star pairs, and a robust similarity fit: the best
// similarity through two of the pairs, refined by least squares over the pairs it keeps.
#include "analysis/StarRegistration.h"

#include <Eigen/Geometry>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
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

// Stars closer than this are too close to pin an angle down: no triangle side and no two
// stars the fit starts from are closer.
constexpr double MinSide = 12;
// How close the side ratios of two triangles must be to count as the same shape.
constexpr double ShapeTolerance = 0.006;
// Frames of one night never change scale by more than this; pairing need not look further.
constexpr double ScaleSlack = 0.03;
// The fit tries at most this many similarities through two pairs, and refits at most this
// often: plenty for the 50 stars a frame is aligned on.
constexpr int MaxCandidates = 2000;
constexpr int MaxRefits = 20;

using Points = std::vector<Eigen::Vector2d>;

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

// The similarity that takes p0 onto q0 and p1 onto q1: as complex numbers, q = m p + t with
// m = (q1 - q0) / (p1 - p0).
Similarity ThroughTwo(const Eigen::Vector2d& p0, const Eigen::Vector2d& p1,
                      const Eigen::Vector2d& q0, const Eigen::Vector2d& q1) {
    const Eigen::Vector2d dp = p1 - p0;
    const Eigen::Vector2d dq = q1 - q0;
    const double d2 = dp.squaredNorm();
    Similarity s;
    s.a = dp.dot(dq) / d2;
    s.b = (dp.x() * dq.y() - dp.y() * dq.x()) / d2;
    s.tx = q0.x() - (s.a * p0.x() - s.b * p0.y());
    s.ty = q0.y() - (s.b * p0.x() + s.a * p0.y());
    return s;
}

// Flags the pairs that `s` maps to within `threshold` of each other; returns how many.
std::size_t MarkInliers(const Similarity& s, const Points& from, const Points& to, double threshold,
                        std::vector<std::uint8_t>& flags) {
    flags.assign(from.size(), 0);
    std::size_t count = 0;
    for (std::size_t i = 0; i < from.size(); ++i) {
        const double dx = s.mapX(from[i].x(), from[i].y()) - to[i].x();
        const double dy = s.mapY(from[i].x(), from[i].y()) - to[i].y();
        if (dx * dx + dy * dy <= threshold * threshold) {
            flags[i] = 1;
            ++count;
        }
    }
    return count;
}

Similarity LeastSquares(const Points& from, const Points& to,
                        const std::vector<std::uint8_t>& inliers) {
    const auto kept = Eigen::Index(std::count(inliers.begin(), inliers.end(), 1));
    // Rows of no fixed number: with two fixed rows GCC 12 misreads umeyama's copy of the
    // mean as reading past it.
    Eigen::MatrixXd source(2, kept);
    Eigen::MatrixXd target(2, kept);
    Eigen::Index k = 0;
    for (std::size_t i = 0; i < inliers.size(); ++i) {
        if (inliers[i] != 0) {
            source.col(k) = from[i];
            target.col(k) = to[i];
            ++k;
        }
    }
    const Eigen::MatrixXd m = Eigen::umeyama(source, target, true);
    return {m(0, 0), m(1, 0), m(0, 2), m(1, 2)};
}

// The similarity through the two pairs that most others agree with, within `threshold` pixels,
// then refitted by least squares over the pairs that agree until they stop changing. Every
// choice is tried in a fixed order, so a frame aligns the same way each time.
std::optional<Similarity> Fit(const Points& from, const Points& to, double threshold,
                              std::vector<std::uint8_t>& inliers) {
    const std::size_t n = from.size();
    if (n < 3) {
        return std::nullopt;
    }
    std::optional<Similarity> best;
    std::size_t bestCount = 0;
    std::vector<std::uint8_t> flags;
    int tried = 0;
    // The pairs come brightest star first: every two of the first stars are tried before any
    // later star, so the best measured stars are the ones tried when the candidates run out.
    for (std::size_t j = 1; j < n && tried < MaxCandidates && bestCount < n; ++j) {
        for (std::size_t i = 0; i < j && tried < MaxCandidates && bestCount < n; ++i) {
            if ((from[j] - from[i]).norm() < MinSide) {
                continue;
            }
            ++tried;
            const Similarity s = ThroughTwo(from[i], from[j], to[i], to[j]);
            const std::size_t count = MarkInliers(s, from, to, threshold, flags);
            if (count > bestCount) {
                best = s;
                bestCount = count;
                inliers.swap(flags);
            }
        }
    }
    if (!best) {
        return std::nullopt;
    }
    for (int round = 0; round < MaxRefits; ++round) {
        const Similarity refined = LeastSquares(from, to, inliers);
        if (MarkInliers(refined, from, to, threshold, flags) < 2) {
            break;
        }
        best = refined;
        if (flags == inliers) {
            break;
        }
        inliers.swap(flags);
    }
    return best;
}

Eigen::Vector2d Point(const StarPoint& s) {
    return {s.x, s.y};
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
    Points from;
    Points to;
    for (const auto& [f, r] : VotedPairs(reference, frame)) {
        from.push_back(Point(frame[std::size_t(f)]));
        to.push_back(Point(reference[std::size_t(r)]));
    }
    std::vector<std::uint8_t> inliers;
    const std::optional<Similarity> rough = Fit(from, to, 3.0, inliers);
    if (!rough) {
        return std::nullopt;
    }

    // Every star of the frame that lands next to one of the reference takes part in the fit,
    // not only the few the triangles were built from.
    from.clear();
    to.clear();
    std::vector<std::pair<int, int>> pairs;
    std::vector<int> taken(reference.size(), 0);
    for (std::size_t f = 0; f < frame.size(); ++f) {
        const StarPoint& s = frame[f];
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
            pairs.emplace_back(int(f), nearest);
        }
    }
    const std::optional<Similarity> fine = Fit(from, to, 1.0, inliers);
    if (!fine) {
        return std::nullopt;
    }
    Registration found{*fine, int(std::count(inliers.begin(), inliers.end(), 1)), {}};
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (inliers[i] != 0) {
            found.pairs.push_back(pairs[i]);
        }
    }
    return found;
}

} // namespace lumenvale
