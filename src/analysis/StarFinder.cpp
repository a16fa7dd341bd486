// Sky by blocks, local peaks of 3 x 3 sums, the patch of light around each, and the tests that
// tell a star from whatever else stands out of the sky.
#include "analysis/StarFinder.h"

#include "analysis/FloatPicture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>

namespace lumenvale {

namespace {

// The sky is judged in blocks about this wide, so the amplifier glow and the light pollution
// near the horizon are followed, between the blocks' centres, rather than taken for stars.
constexpr int BlockSize = 40;
constexpr int SkyStep = 4; // every fourth pixel of every fourth row is plenty for a median
// A hot pixel or a cosmic ray: nearly all the light of its 3 x 3 pixels in one of them, or a
// pixel sharing next to nothing with its neighbours on either side (a hot pixel of a binned
// frame, whose lines were doubled, has a twin above or below it).
constexpr double LonePixelShare = 0.6;
constexpr double SideShare = 0.1;
// The patch of a star: its 3 x 3 sums this many of their sigmas above the sky, joined to the
// brightest of them.
constexpr double FillSigmas = 3;
// A patch's light against the noise of its pixels: a star stands out far more than noise.
constexpr double MinSignificance = 8;
// A satellite's or a plane's trail, not a star: its light this much longer than it is wide.
constexpr double MaxPatchElongation = 3;
// The sky around a star is even, whatever the star's brightness: its sides, and the sky just
// outside it and twice as far out, differ by far less than the star stands above them. Diffuse
// light (a glow, a gradient, nebulosity) is brighter on one side, or fades on far beyond the
// patch that stands out of the sky.
constexpr double SurroundGap = 2;
constexpr double MinSurroundWidth = 4;
constexpr std::size_t MinSidePixels = 8;
constexpr double MinContrast = 3;
// Around a point, only the stars this near it are judged: those a click there may pick, and
// their neighbours.
constexpr double JudgedReach = 3 * StarFinder::PickRadius;
// The stack's centres: Gaussian-windowed centroids.
constexpr int WindowRadius = 6;   // pixels around a peak that weigh in its centre
constexpr double WindowSigma = 2; // the centroid's Gaussian window, pixels
constexpr int CentroidTurns = 8;
// Stars this close to the edge are left out of the stack's: their light is cut off.
constexpr int EdgeMargin = 8;
// A star is round, or nearly so once a binned frame's lines are doubled.
constexpr double MaxElongation = 1.8;

std::size_t At(int x, int y, int width) {
    return std::size_t(y) * std::size_t(width) + std::size_t(x);
}

// Where a pixel falls between the centres of the blocks along one direction, `blocks` blocks
// of `size` pixels.
struct Between {
    int first;
    int next;
    float weight; // of the next block
};
Between BetweenBlocks(int pixel, int blocks, double size) {
    const double f = std::clamp((pixel + 0.5) / size - 0.5, 0.0, double(blocks - 1));
    const int first = std::min(int(f), std::max(0, blocks - 2));
    return {first, std::min(first + 1, blocks - 1), float(f - first)};
}

// A Gaussian star's variance along an axis, from its variance under the Gaussian window (the
// product of two Gaussians is one of 1 / v = 1 / s + 1 / w).
double Unwindowed(double variance) {
    constexpr double W = WindowSigma * WindowSigma;
    const double v = std::clamp(variance, 0.01, 0.9 * W);
    return v * W / (W - v);
}

} // namespace

const std::vector<StarPatch>& StarFinder::detect(const std::vector<float>& grey, int width,
                                                 int height, std::optional<QPointF> near,
                                                 double reach) {
    grey_ = &grey;
    // Only the pixels the last picture's patches took are cleared, not the whole picture.
    if (width != width_ || height != height_) {
        owner_.assign(std::size_t(width) * std::size_t(height), 0);
    } else {
        for (const int i : claimed_) {
            owner_[std::size_t(i)] = 0;
        }
    }
    width_ = width;
    height_ = height;
    claimed_.clear();
    stars_.clear();
    peaks_.clear();
    if (width < 3 || height < 3) {
        return stars_;
    }
    estimateSky();
    findPeaks();
    std::sort(peaks_.begin(), peaks_.end(),
              [](const Peak& a, const Peak& b) { return a.light > b.light; });
    // A wide star shows many local peaks (all around a donut's ring): the first one found takes
    // the whole patch of light, and the others fall inside it.
    for (const Peak& p : peaks_) {
        if (stars_.size() == NotAStar - 1) {
            break;
        }
        if (near && std::hypot(p.x - near->x(), p.y - near->y()) > reach) {
            continue;
        }
        if (auto star = fill(p, std::uint16_t(stars_.size() + 1))) {
            stars_.push_back(*star);
        }
    }
    // Judged once every patch is known, so a neighbour does not count as the sky around a star.
    std::vector<StarPatch> found;
    found.swap(stars_);
    for (StarPatch& star : found) {
        // Around a point, the stars far from it are found only for their pixels, which
        // belong to no star measured there.
        const bool aside =
            near &&
            std::hypot(star.centre.x() - near->x(), star.centre.y() - near->y()) - star.extent >
                JudgedReach;
        if (aside || compact(star)) {
            stars_.push_back(star);
        } else {
            for (std::size_t i = star.first; i < star.first + star.count; ++i) {
                owner_[std::size_t(claimed_[i])] = NotAStar;
            }
        }
    }
    std::sort(stars_.begin(), stars_.end(),
              [](const StarPatch& a, const StarPatch& b) { return a.light > b.light; });
    return stars_;
}

void StarFinder::estimateSky() {
    const std::vector<float>& grey = *grey_;
    blocksX_ = std::max(1, width_ / BlockSize);
    blocksY_ = std::max(1, height_ / BlockSize);
    blockSky_.resize(std::size_t(blocksX_) * std::size_t(blocksY_));
    std::vector<float> spreads;
    spreads.reserve(blockSky_.size());
    for (int by = 0; by < blocksY_; ++by) {
        const int y0 = by * height_ / blocksY_;
        const int y1 = (by + 1) * height_ / blocksY_;
        for (int bx = 0; bx < blocksX_; ++bx) {
            const int x0 = bx * width_ / blocksX_;
            const int x1 = (bx + 1) * width_ / blocksX_;
            scratch_.clear();
            for (int y = y0 + std::min(SkyStep / 2, y1 - y0 - 1); y < y1; y += SkyStep) {
                for (int x = x0 + std::min(SkyStep / 2, x1 - x0 - 1); x < x1; x += SkyStep) {
                    scratch_.push_back(grey[At(x, y, width_)]);
                }
            }
            const float median = MiddleValue(scratch_);
            for (float& v : scratch_) {
                v = std::abs(v - median);
            }
            blockSky_[At(bx, by, blocksX_)] = median;
            spreads.push_back(MiddleValue(scratch_));
        }
    }
    // The median absolute deviation of normal noise is 0.6745 sigma; a sky without noise at all
    // still has the rounding of its values.
    noise_ = std::max(0.5, 1.4826 * double(MiddleValue(spreads)));
}

double StarFinder::skyAt(int x, int y) const {
    const Between across = BetweenBlocks(x, blocksX_, double(width_) / blocksX_);
    const Between down = BetweenBlocks(y, blocksY_, double(height_) / blocksY_);
    const float* top = blockSky_.data() + std::size_t(blocksX_) * std::size_t(down.first);
    const float* bottom = blockSky_.data() + std::size_t(blocksX_) * std::size_t(down.next);
    const float w = across.weight;
    return (1 - down.weight) * ((1 - w) * top[across.first] + w * top[across.next]) +
           down.weight * ((1 - w) * bottom[across.first] + w * bottom[across.next]);
}

void StarFinder::findPeaks() {
    const std::vector<float>& grey = *grey_;
    const int w = width_;
    const int h = height_;
    // 3 x 3 sums: the rows of three first, then three of those.
    // Only the inside of the rows of three is written and read.
    scratch_.resize(grey.size());
    for (int y = 0; y < h; ++y) {
        const float* g = grey.data() + At(0, y, w);
        float* r = scratch_.data() + At(0, y, w);
        for (int x = 1; x < w - 1; ++x) {
            r[x] = g[x - 1] + g[x] + g[x + 1];
        }
    }
    // The edge has no sums: lower than any, so no patch reaches it, even on a sky below zero.
    constexpr float Edge = std::numeric_limits<float>::lowest();
    box_.resize(grey.size());
    std::fill_n(box_.begin(), w, Edge);
    std::fill_n(box_.end() - w, w, Edge);
    for (int y = 1; y < h - 1; ++y) {
        const float* above = scratch_.data() + At(0, y - 1, w);
        float* b = box_.data() + At(0, y, w);
        b[0] = Edge;
        b[w - 1] = Edge;
        for (int x = 1; x < w - 1; ++x) {
            b[x] = above[x] + above[x + w] + above[x + 2 * w];
        }
    }

    const auto margin = float(DetectionSigma * 3 * noise_); // the noise of nine is 3 sigma
    // The sky between block centres: down the blocks once per row, then across.
    const double blockWidth = double(w) / blocksX_;
    std::vector<Between> across;
    across.reserve(std::size_t(w));
    for (int x = 0; x < w; ++x) {
        across.push_back(BetweenBlocks(x, blocksX_, blockWidth));
    }
    std::vector<float> rowSky(static_cast<std::size_t>(blocksX_));
    std::vector<float> sky(static_cast<std::size_t>(w));
    for (int y = 1; y < h - 1; ++y) {
        const Between down = BetweenBlocks(y, blocksY_, double(h) / blocksY_);
        for (int bx = 0; bx < blocksX_; ++bx) {
            rowSky[std::size_t(bx)] = (1 - down.weight) * blockSky_[At(bx, down.first, blocksX_)] +
                                      down.weight * blockSky_[At(bx, down.next, blocksX_)];
        }
        for (int x = 0; x < w; ++x) {
            const Between& b = across[std::size_t(x)];
            sky[std::size_t(x)] = (1 - b.weight) * rowSky[std::size_t(b.first)] +
                                  b.weight * rowSky[std::size_t(b.next)];
        }
        const float* b = box_.data() + At(0, y, w);
        for (int x = 1; x < w - 1; ++x) {
            const float s = b[x];
            const float light = s - 9 * sky[std::size_t(x)];
            if (light <= margin) {
                continue;
            }
            // One peak per plateau: strictly above the neighbours met before it.
            if (!(s > b[x - 1] && s > b[x - w - 1] && s > b[x - w] && s > b[x - w + 1] &&
                  s >= b[x + 1] && s >= b[x + w - 1] && s >= b[x + w] && s >= b[x + w + 1])) {
                continue;
            }
            if (!lonePixel(x, y, light)) {
                peaks_.push_back({x, y, light});
            }
        }
    }
}

// Whether the light of the 3 x 3 pixels around (x, y), `light` above the sky, is one pixel's.
bool StarFinder::lonePixel(int x, int y, float light) const {
    const std::vector<float>& grey = *grey_;
    int bx = x;
    int by = y;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            if (grey[At(x + dx, y + dy, width_)] > grey[At(bx, by, width_)]) {
                bx = x + dx;
                by = y + dy;
            }
        }
    }
    const double sky = skyAt(bx, by);
    const double brightest = grey[At(bx, by, width_)] - sky;
    if (brightest > LonePixelShare * light) {
        return true;
    }
    const auto above = [&](int px, int py) {
        return px < 0 || py < 0 || px >= width_ || py >= height_ ? 0.0
                                                                 : grey[At(px, py, width_)] - sky;
    };
    const double sideways = std::max(above(bx - 1, by), above(bx + 1, by));
    const double upDown = std::max(above(bx, by - 1), above(bx, by + 1));
    return std::min(sideways, upDown) < SideShare * brightest;
}

// The patch of light around `seed`: every pixel joined to it whose 3 x 3 sum stands out of the
// sky; nothing when it is noise, too wide, cut off by the edge or drawn out into a trail.
std::optional<StarPatch> StarFinder::fill(const Peak& seed, std::uint16_t number) {
    const int w = width_;
    const int start = seed.y * w + seed.x;
    if (owner_[std::size_t(start)] != 0) {
        return std::nullopt;
    }
    const std::vector<float>& grey = *grey_;
    const double sky = skyAt(seed.x, seed.y);
    const auto threshold = float(9 * sky + FillSigmas * 3 * noise_);
    const auto maxPixels = std::size_t(M_PI * MaxRadius * MaxRadius);
    const std::size_t first = claimed_.size();
    claimed_.push_back(start);
    owner_[std::size_t(start)] = number;
    double light = 0;
    double sumX = 0;
    double sumY = 0;
    double sumXX = 0;
    double sumYY = 0;
    double sumXY = 0;
    bool cutOff = false;
    // The edge rows and columns have no 3 x 3 sum, so the fill never leaves the picture.
    for (std::size_t next = first; next < claimed_.size(); ++next) {
        const int i = claimed_[next];
        const int x = i % w;
        const int y = i / w;
        cutOff = cutOff || x <= 1 || y <= 1 || x >= w - 2 || y >= height_ - 2;
        const double v = std::max(0.0, grey[std::size_t(i)] - sky);
        light += v;
        sumX += v * x;
        sumY += v * y;
        sumXX += v * x * x;
        sumYY += v * y * y;
        sumXY += v * x * y;
        if (claimed_.size() - first >= maxPixels) {
            continue;
        }
        for (const int j : {i - 1, i + 1, i - w, i + w}) {
            if (owner_[std::size_t(j)] == 0 && box_[std::size_t(j)] > threshold) {
                owner_[std::size_t(j)] = number;
                claimed_.push_back(j);
            }
        }
    }
    const std::size_t count = claimed_.size() - first;
    bool star = !cutOff && count < maxPixels && light > 0 &&
                light >= MinSignificance * noise_ * std::sqrt(double(count));
    StarPatch found;
    if (star) {
        found.centre = QPointF(sumX / light, sumY / light);
        const double cx = found.centre.x();
        const double cy = found.centre.y();
        const double xx = sumXX / light - cx * cx;
        const double yy = sumYY / light - cy * cy;
        const double xy = sumXY / light - cx * cy;
        const double half = (xx + yy) / 2;
        const double root = std::sqrt((xx - yy) * (xx - yy) / 4 + xy * xy);
        star = half + root <= MaxPatchElongation * MaxPatchElongation * std::max(0.0, half - root);
    }
    if (!star) {
        for (std::size_t k = first; k < claimed_.size(); ++k) {
            owner_[std::size_t(claimed_[k])] = NotAStar;
        }
        return std::nullopt;
    }
    found.light = light;
    found.peak = QPoint(seed.x, seed.y);
    found.number = number;
    found.first = first;
    found.count = count;
    double farthest2 = 0;
    for (std::size_t k = first; k < claimed_.size(); ++k) {
        const int column = claimed_[k] % w;
        const int row = claimed_[k] / w;
        const double dx = column - found.centre.x();
        const double dy = row - found.centre.y();
        farthest2 = std::max(farthest2, dx * dx + dy * dy);
    }
    found.extent = std::sqrt(farthest2);
    return found;
}

// Whether the sky around the star is even, against the light of the star's middle: alike on
// every side of it, and as bright just outside it as farther out.
bool StarFinder::compact(const StarPatch& star) {
    const std::vector<float>& grey = *grey_;
    const double cx = star.centre.x();
    const double cy = star.centre.y();
    const double width = std::max(MinSurroundWidth, star.extent / 2);
    const double inner = star.extent + SurroundGap;
    const double outer = inner + width;
    const double farInner = 2 * inner;
    const double farOuter = farInner + width;
    const int x0 = std::max(0, int(std::floor(cx - farOuter)));
    const int x1 = std::min(width_ - 1, int(std::ceil(cx + farOuter)));
    const int y0 = std::max(0, int(std::floor(cy - farOuter)));
    const int y1 = std::min(height_ - 1, int(std::ceil(cy + farOuter)));
    for (std::vector<float>& side : sides_) {
        side.clear();
    }
    scratch_.clear(); // the far ring
    for (int y = y0; y <= y1; ++y) {
        const double dy = y - cy;
        // Along the row, the pixels within the far ring's outer edge but not the star's own.
        const double across = std::sqrt(std::max(0.0, farOuter * farOuter - dy * dy));
        const double hole = std::sqrt(std::max(0.0, inner * inner - dy * dy));
        for (int x = std::max(x0, int(std::floor(cx - across)));
             x <= std::min(x1, int(std::ceil(cx + across))); ++x) {
            const double dx = x - cx;
            if (std::abs(dx) < hole - 1) {
                x = int(std::floor(cx + hole - 1)); // over the star's own pixels at once
                continue;
            }
            const double r2 = dx * dx + dy * dy;
            if (r2 < inner * inner || owner(x, y) != 0) {
                continue;
            }
            const float value = grey[At(x, y, width_)];
            if (r2 < outer * outer) {
                const auto side =
                    std::size_t(std::abs(dx) >= std::abs(dy) ? (dx < 0 ? 0 : 1) : (dy < 0 ? 2 : 3));
                sides_[side].push_back(value);
                near_.push_back(value);
            } else if (r2 >= farInner * farInner && r2 < farOuter * farOuter) {
                scratch_.push_back(value);
            }
        }
    }
    double darkest = 0;
    double brightest = 0;
    int judged = 0;
    for (std::vector<float>& side : sides_) {
        if (side.size() < MinSidePixels) {
            continue;
        }
        const double level = MiddleValue(side);
        darkest = judged == 0 ? level : std::min(darkest, level);
        brightest = judged == 0 ? level : std::max(brightest, level);
        ++judged;
    }
    double uneven = judged >= 2 ? brightest - darkest : 0;
    double around = 0;
    if (!near_.empty()) {
        around = MiddleValue(near_);
        if (scratch_.size() >= MinSidePixels) {
            uneven = std::max(uneven, std::abs(around - MiddleValue(scratch_)));
        }
    } else {
        around = skyAt(int(cx), int(cy));
    }
    near_.clear();
    // The patch's mean, not its peak: a bright star on a nebula does not make the nebula one.
    const double mean = star.light / double(star.count) + skyAt(int(cx), int(cy));
    return mean - around >= MinContrast * uneven;
}

std::vector<StarPoint> StarFinder::find(const FloatPicture& picture, int maxStars) {
    return find(picture.grey(), picture.width, picture.height, maxStars);
}

std::vector<StarPoint> StarFinder::find(const std::vector<float>& grey, int width, int height,
                                        int maxStars) {
    std::vector<StarPoint> stars;
    if (width < 2 * EdgeMargin + 1 || height < 2 * EdgeMargin + 1) {
        return stars;
    }
    StarFinder finder;
    finder.detect(grey, width, height);
    for (const StarPatch& patch : finder.stars()) {
        const int x = patch.peak.x();
        const int y = patch.peak.y();
        if (x < EdgeMargin || y < EdgeMargin || x >= width - EdgeMargin ||
            y >= height - EdgeMargin) {
            continue;
        }
        // The sky is even over the few pixels of a star.
        const double sky = finder.skyAt(x, y);
        const auto above = [&](int px, int py) { return grey[At(px, py, width)] - sky; };
        double cx = x;
        double cy = y;
        double flux = 0;
        double sxx = 0;
        double syy = 0;
        double sxy = 0;
        double sw = 0;
        for (int turn = 0; turn < CentroidTurns; ++turn) {
            const int ix = int(std::lround(cx));
            const int iy = int(std::lround(cy));
            sw = 0;
            double sx = 0;
            double sy = 0;
            flux = 0;
            sxx = syy = sxy = 0;
            for (int py = std::max(0, iy - WindowRadius);
                 py <= std::min(height - 1, iy + WindowRadius); ++py) {
                for (int px = std::max(0, ix - WindowRadius);
                     px <= std::min(width - 1, ix + WindowRadius); ++px) {
                    const double light = above(px, py);
                    const double r2 = (px - cx) * (px - cx) + (py - cy) * (py - cy);
                    const double w = std::exp(-r2 / (2 * WindowSigma * WindowSigma)) * light;
                    sw += w;
                    sx += w * (px - cx);
                    sy += w * (py - cy);
                    sxx += w * (px - cx) * (px - cx);
                    syy += w * (py - cy) * (py - cy);
                    sxy += w * (px - cx) * (py - cy);
                    flux += light;
                }
            }
            if (sw <= 0) {
                break;
            }
            // The windowed centroid: the Gaussian window's own pull is undone by the 2.
            const double stepX = std::clamp(2 * sx / sw, -1.0, 1.0);
            const double stepY = std::clamp(2 * sy / sw, -1.0, 1.0);
            cx += stepX;
            cy += stepY;
            if (std::abs(stepX) + std::abs(stepY) < 1e-4) {
                break;
            }
        }
        // The axes of the light's spread, from its second moments.
        const double half = (sxx + syy) / 2;
        const double root = std::sqrt((sxx - syy) * (sxx - syy) / 4 + sxy * sxy);
        const bool round =
            half - root > 0 && (half + root) <= MaxElongation * MaxElongation * (half - root);
        if (round && std::abs(cx - x) <= 2 && std::abs(cy - y) <= 2) {
            const double major = Unwindowed((half + root) / sw);
            const double minor = Unwindowed((half - root) / sw);
            stars.push_back(
                {cx, cy, flux, 2.3548 * std::pow(major * minor, 0.25), std::sqrt(major / minor)});
        }
    }
    std::sort(stars.begin(), stars.end(),
              [](const StarPoint& a, const StarPoint& b) { return a.flux > b.flux; });
    if (stars.size() > std::size_t(maxStars)) {
        stars.resize(std::size_t(maxStars));
    }
    return stars;
}

} // namespace lumenvale
