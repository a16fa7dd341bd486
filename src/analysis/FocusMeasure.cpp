// Finding and measuring the focus star.
#include "analysis/FocusMeasure.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace lumenvale {

namespace {

constexpr int W = AcquiredFrame::Width;
constexpr int H = AcquiredFrame::Height;

// The sky is judged in blocks, so the amplifier glow and the light pollution near the horizon
// are not taken for stars.
constexpr int BlockSize = 40;
constexpr int SkyStep = 4; // every fourth pixel of every fourth row is plenty for a median
constexpr int BlocksX = W / BlockSize;
constexpr int BlocksY = H / BlockSize;

// A star stands out of the noise by this many of its sigmas over 3 x 3 pixels.
constexpr double DetectSigmas = 5;
// A hot pixel or a cosmic ray: nearly all the light of its 3 x 3 pixels in one of them.
constexpr double LonePixelShare = 0.75;
// Stars looked at before giving up on a frame.
constexpr int MaxTries = 16;
// Only the brighter part of a star tells its shape; the faint wings are mostly noise.
constexpr double FitFloorShare = 0.1;
constexpr double FitFloorSigmas = 3;
constexpr int MinFitPoints = 6;
constexpr double FwhmPerSigma = 2.354820045; // 2 sqrt(2 ln 2)
constexpr double MinSigma = 0.25;
constexpr double MaxSigma = 25;
// The half-flux aperture reaches twice the FWHM (about 4.7 sigma, where a Gaussian star has
// given all its light); the sky is read in a ring just outside it.
constexpr double MinAperture = 5;
constexpr double MaxAperture = 32;
constexpr double RingGap = 2;
constexpr double RingWidth = 6;

// Where a pixel falls between the centres of the blocks, along one direction.
struct Between {
    int first;
    float weight; // of the next block
};
Between betweenBlocks(int pixel, int blocks) {
    const double f = std::clamp((pixel + 0.5) / BlockSize - 0.5, 0.0, double(blocks - 1));
    const int first = std::min(int(f), blocks - 2);
    return {first, float(f - first)};
}

double fitRadius(double sigma) {
    return std::clamp(2.5 * sigma, 3.0, 20.0);
}

// Solves the 4 x 4 system in place by Gaussian elimination; false when it is singular.
bool solve(std::array<std::array<double, 5>, 4>& m) {
    for (int col = 0; col < 4; ++col) {
        int pivot = col;
        for (int row = col + 1; row < 4; ++row) {
            if (std::abs(m[row][col]) > std::abs(m[pivot][col])) {
                pivot = row;
            }
        }
        if (std::abs(m[pivot][col]) < 1e-12) {
            return false;
        }
        std::swap(m[col], m[pivot]);
        for (int row = 0; row < 4; ++row) {
            if (row == col) {
                continue;
            }
            const double f = m[row][col] / m[col][col];
            for (int k = col; k < 5; ++k) {
                m[row][k] -= f * m[col][k];
            }
        }
    }
    for (int row = 0; row < 4; ++row) {
        m[row][4] /= m[row][row];
    }
    return true;
}

} // namespace

std::optional<FocusMeasure::Star> FocusMeasure::measure(const AcquiredFrame& frame) {
    findCandidates(frame);
    std::sort(candidates_.begin(), candidates_.end(),
              [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
    std::optional<Star> saturated;
    const Candidate* saturatedCandidate = nullptr;
    int tries = 0;
    for (const Candidate& c : candidates_) {
        if (tries == MaxTries) {
            break;
        }
        if (coreSaturated(c.x, c.y)) {
            if (saturatedCandidate == nullptr) {
                saturatedCandidate = &c;
            }
            continue;
        }
        ++tries;
        std::optional<Star> star = measureAt(c);
        if (star && !star->saturated) {
            return star;
        }
        if (star && !saturated) {
            saturated = star;
        }
    }
    if (!saturated && saturatedCandidate != nullptr) {
        saturated = measureAt(*saturatedCandidate);
    }
    return saturated;
}

std::optional<FocusMeasure::Star> FocusMeasure::measure(const AcquiredFrame& frame, QPointF near) {
    findCandidates(frame);
    const auto distance = [near](const Candidate& c) {
        return std::hypot(c.x - near.x(), c.y - near.y());
    };
    std::erase_if(candidates_, [&](const Candidate& c) { return distance(c) > PickRadius; });
    std::sort(candidates_.begin(), candidates_.end(),
              [&](const Candidate& a, const Candidate& b) { return distance(a) < distance(b); });
    for (std::size_t i = 0; i < candidates_.size() && i < std::size_t(MaxTries); ++i) {
        if (auto star = measureAt(candidates_[i])) {
            return star;
        }
    }
    return std::nullopt;
}

void FocusMeasure::findCandidates(const AcquiredFrame& frame) {
    frame_ = &frame;
    grey_.resize(std::size_t(W) * H);
    for (int y = 0; y < H; ++y) {
        const std::uint8_t* in = frame.storedRow(H - 1 - y);
        std::uint16_t* out = grey_.data() + std::size_t(W) * y;
        for (int x = 0; x < W; ++x, in += 3) {
            out[x] = std::uint16_t(in[0] + in[1] + in[2]);
        }
    }
    estimateSky();

    // 3 x 3 sums: the rows of three first, then three of those.
    std::vector<std::uint16_t>& rows = scratch_;
    rows.assign(std::size_t(W) * H, 0);
    for (int y = 0; y < H; ++y) {
        const std::uint16_t* g = grey_.data() + std::size_t(W) * y;
        std::uint16_t* r = rows.data() + std::size_t(W) * y;
        for (int x = 1; x < W - 1; ++x) {
            r[x] = std::uint16_t(g[x - 1] + g[x] + g[x + 1]);
        }
    }
    box_.assign(std::size_t(W) * H, 0);
    for (int y = 1; y < H - 1; ++y) {
        const std::uint16_t* above = rows.data() + std::size_t(W) * (y - 1);
        std::uint16_t* b = box_.data() + std::size_t(W) * y;
        for (int x = 1; x < W - 1; ++x) {
            b[x] = std::uint16_t(above[x] + above[x + W] + above[x + 2 * W]);
        }
    }

    candidates_.clear();
    const double margin = DetectSigmas * 3 * noise_; // the noise of a sum of nine is 3 sigma
    // The sky between block centres, bilinearly: down the blocks once per row, then across.
    std::array<Between, W> across{};
    for (int x = 0; x < W; ++x) {
        across[x] = betweenBlocks(x, BlocksX);
    }
    std::array<float, BlocksX> rowSky{};
    std::array<float, W> sky{};
    for (int y = 1; y < H - 1; ++y) {
        const Between down = betweenBlocks(y, BlocksY);
        for (int bx = 0; bx < BlocksX; ++bx) {
            const float* block = blockSky_.data() + std::size_t(BlocksX) * down.first + bx;
            rowSky[bx] = (1 - down.weight) * block[0] + down.weight * block[BlocksX];
        }
        for (int x = 0; x < W; ++x) {
            const Between& b = across[x];
            sky[x] = (1 - b.weight) * rowSky[b.first] + b.weight * rowSky[b.first + 1];
        }
        const std::uint16_t* b = box_.data() + std::size_t(W) * y;
        for (int x = 1; x < W - 1; ++x) {
            const std::uint16_t s = b[x];
            if (float(s) <= 9 * sky[x] + float(margin)) {
                continue;
            }
            // One maximum per plateau: strictly above the neighbours met before it.
            if (!(s > b[x - 1] && s > b[x - W - 1] && s > b[x - W] && s > b[x - W + 1] &&
                  s >= b[x + 1] && s >= b[x + W - 1] && s >= b[x + W] && s >= b[x + W + 1])) {
                continue;
            }
            int brightest = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    brightest = std::max<int>(brightest, grey_[std::size_t(W) * (y + dy) + x + dx]);
                }
            }
            const double light = s - 9 * double(sky[x]);
            if (brightest - sky[x] > LonePixelShare * light) {
                continue;
            }
            candidates_.push_back({x, y, int(light)});
        }
    }
}

void FocusMeasure::estimateSky() {
    blockSky_.resize(std::size_t(BlocksX) * BlocksY);
    std::vector<float> spreads;
    spreads.reserve(blockSky_.size());
    for (int by = 0; by < BlocksY; ++by) {
        for (int bx = 0; bx < BlocksX; ++bx) {
            scratch_.clear();
            for (int y = by * BlockSize + SkyStep / 2; y < (by + 1) * BlockSize; y += SkyStep) {
                const std::uint16_t* g = grey_.data() + std::size_t(W) * y;
                for (int x = bx * BlockSize + SkyStep / 2; x < (bx + 1) * BlockSize; x += SkyStep) {
                    scratch_.push_back(g[x]);
                }
            }
            const auto middle = scratch_.begin() + std::ptrdiff_t(scratch_.size() / 2);
            std::nth_element(scratch_.begin(), middle, scratch_.end());
            const int median = *middle;
            for (auto& v : scratch_) {
                v = std::uint16_t(std::abs(int(v) - median));
            }
            std::nth_element(scratch_.begin(), middle, scratch_.end());
            blockSky_[std::size_t(BlocksX) * by + bx] = float(median);
            spreads.push_back(float(*middle));
        }
    }
    const auto middle = spreads.begin() + std::ptrdiff_t(spreads.size() / 2);
    std::nth_element(spreads.begin(), middle, spreads.end());
    // The median absolute deviation of normal noise is 0.6745 sigma; a sky without noise at all
    // still has the rounding of its values.
    noise_ = std::max(1.0, 1.4826 * double(*middle));
}

double FocusMeasure::skyAt(int x, int y) const {
    const Between across = betweenBlocks(x, BlocksX);
    const Between down = betweenBlocks(y, BlocksY);
    const float* top = blockSky_.data() + std::size_t(BlocksX) * down.first + across.first;
    const float* bottom = top + BlocksX;
    return (1 - down.weight) * ((1 - across.weight) * top[0] + across.weight * top[1]) +
           down.weight * ((1 - across.weight) * bottom[0] + across.weight * bottom[1]);
}

int FocusMeasure::brightestColour(int x, int y) const {
    const std::uint8_t* p = frame_->storedRow(H - 1 - y) + std::ptrdiff_t(3) * x;
    return std::max({p[0], p[1], p[2]});
}

bool FocusMeasure::coreSaturated(int x, int y) const {
    for (int py = std::max(0, y - 2); py <= std::min(H - 1, y + 2); ++py) {
        for (int px = std::max(0, x - 2); px <= std::min(W - 1, x + 2); ++px) {
            if (brightestColour(px, py) >= SaturatedLevel) {
                return true;
            }
        }
    }
    return false;
}

std::optional<FocusMeasure::Star> FocusMeasure::measureAt(const Candidate& at) {
    // The shape first against the sky of the blocks, then against the ring around the star.
    const double blockSky = skyAt(at.x, at.y);
    std::optional<Fit> fit;
    // A saturated core gives nothing to fit: widen until the wings are reached.
    for (double radius = 6; !fit && radius <= 24; radius *= 2) {
        fit = fitGaussian(at.x, at.y, radius, blockSky, std::nullopt);
    }
    if (!fit) {
        return std::nullopt;
    }
    for (int pass = 0; pass < 2 && fit; ++pass) {
        fit = fitGaussian(fit->x, fit->y, fitRadius(fit->sigma), blockSky, fit);
    }
    if (!fit) {
        return std::nullopt;
    }
    const double aperture = std::clamp(2 * FwhmPerSigma * fit->sigma, MinAperture, MaxAperture);
    const double sky =
        ringMedian(fit->x, fit->y, aperture + RingGap, aperture + RingGap + RingWidth);
    for (int pass = 0; pass < 2 && fit; ++pass) {
        fit = fitGaussian(fit->x, fit->y, fitRadius(fit->sigma), sky, fit);
    }
    // A fit that slid away from where the star was found has found a neighbour or nothing.
    if (!fit || std::hypot(fit->x - at.x, fit->y - at.y) > std::max(3.0, fit->sigma)) {
        return std::nullopt;
    }
    const double hfd = halfFluxDiameter(fit->x, fit->y, aperture, sky);
    if (hfd <= 0) {
        return std::nullopt;
    }

    Star star;
    star.centre = QPointF(fit->x, fit->y);
    star.hfd = hfd;
    star.fwhm = FwhmPerSigma * fit->sigma;
    star.background = sky / 3;
    const double core = std::max(1.5, hfd / 2);
    for (int y = std::max(0, int(fit->y - core)); y <= std::min(H - 1, int(fit->y + core) + 1);
         ++y) {
        for (int x = std::max(0, int(fit->x - core)); x <= std::min(W - 1, int(fit->x + core) + 1);
             ++x) {
            if (std::hypot(x - fit->x, y - fit->y) <= core) {
                star.peak = std::max(star.peak, brightestColour(x, y));
            }
        }
    }
    star.saturated = star.peak >= SaturatedLevel;
    return star;
}

// A Gaussian fitted through the logarithm of the light above `sky`: ln v = a + b dx + c dy +
// d r^2, weighted by v^2, which evens out the noise the logarithm stretches on faint pixels.
// Clipped pixels are left out, so a saturated star is fitted on its wings. Once a previous fit
// is known, pixels are chosen and weighted by what it predicts rather than by what they show:
// choosing faint pixels by their own value keeps those whose noise happened to be positive, and
// widens the star.
std::optional<FocusMeasure::Fit>
FocusMeasure::fitGaussian(double cx, double cy, double radius, double sky,
                          const std::optional<Fit>& previous) const {
    const int x0 = std::max(0, int(std::floor(cx - radius)));
    const int x1 = std::min(W - 1, int(std::ceil(cx + radius)));
    const int y0 = std::max(0, int(std::floor(cy - radius)));
    const int y1 = std::min(H - 1, int(std::ceil(cy + radius)));
    const double r2max = radius * radius;
    double brightest = 0;
    if (previous) {
        brightest = previous->amplitude;
    } else {
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                const double dx = x - cx;
                const double dy = y - cy;
                if (dx * dx + dy * dy <= r2max) {
                    brightest = std::max(brightest, grey_[std::size_t(W) * y + x] - sky);
                }
            }
        }
    }
    const double floor = std::max(FitFloorShare * brightest, FitFloorSigmas * noise_);
    std::array<std::array<double, 5>, 4> m{};
    int points = 0;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double dx = x - cx;
            const double dy = y - cy;
            const double r2 = dx * dx + dy * dy;
            if (r2 > r2max || brightestColour(x, y) >= SaturatedLevel) {
                continue;
            }
            double v = grey_[std::size_t(W) * y + x] - sky;
            double expected = v;
            if (previous) {
                const double px = x - previous->x;
                const double py = y - previous->y;
                expected = previous->amplitude *
                           std::exp(-(px * px + py * py) / (2 * previous->sigma * previous->sigma));
                v = std::max(v, expected / 4); // far below: noise, and no logarithm of it
            }
            if (expected <= floor) {
                continue;
            }
            const double basis[4] = {1, dx, dy, r2};
            const double w = expected * expected;
            const double lv = std::log(v);
            for (int i = 0; i < 4; ++i) {
                for (int j = 0; j < 4; ++j) {
                    m[i][j] += w * basis[i] * basis[j];
                }
                m[i][4] += w * basis[i] * lv;
            }
            ++points;
        }
    }
    if (points < MinFitPoints || !solve(m)) {
        return std::nullopt;
    }
    const double d = m[3][4];
    if (!(d < 0)) {
        return std::nullopt; // no peak here
    }
    const double sigma = std::sqrt(-1 / (2 * d));
    const double sx = -m[1][4] / (2 * d);
    const double sy = -m[2][4] / (2 * d);
    if (sigma < MinSigma || sigma > MaxSigma || std::hypot(sx, sy) > radius) {
        return std::nullopt;
    }
    // ln v = ln A + d ((dx - sx)^2 + (dy - sy)^2), expanded, gives a = ln A + d (sx^2 + sy^2).
    const double amplitude = std::exp(m[0][4] - d * (sx * sx + sy * sy));
    return Fit{cx + sx, cy + sy, sigma, amplitude};
}

// The median grey value of the ring, interpolated within its step of whole values, so the sky
// under a wide star is not off by up to half a grey level on each of its pixels.
double FocusMeasure::ringMedian(double cx, double cy, double inner, double outer) {
    scratch_.clear();
    const int x0 = std::max(0, int(std::floor(cx - outer)));
    const int x1 = std::min(W - 1, int(std::ceil(cx + outer)));
    const int y0 = std::max(0, int(std::floor(cy - outer)));
    const int y1 = std::min(H - 1, int(std::ceil(cy + outer)));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double r = std::hypot(x - cx, y - cy);
            if (r >= inner && r < outer) {
                scratch_.push_back(grey_[std::size_t(W) * y + x]);
            }
        }
    }
    if (scratch_.empty()) {
        return skyAt(int(cx), int(cy));
    }
    const auto middle = scratch_.begin() + std::ptrdiff_t(scratch_.size() / 2);
    std::nth_element(scratch_.begin(), middle, scratch_.end());
    const int m = *middle;
    const auto below =
        std::count_if(scratch_.begin(), scratch_.end(), [m](std::uint16_t v) { return v < m; });
    const auto equal = std::count(scratch_.begin(), scratch_.end(), std::uint16_t(m));
    return m - 0.5 + (double(scratch_.size()) / 2 - double(below)) / double(equal);
}

// Each pixel counts as a ramp one pixel wide across its distance from the centre, so the light
// within a radius grows smoothly and the half-flux radius falls between pixels.
double FocusMeasure::halfFluxDiameter(double cx, double cy, double radius, double sky) {
    ring_.clear();
    const double reach = radius + 0.5;
    const int x0 = std::max(0, int(std::floor(cx - reach)));
    const int x1 = std::min(W - 1, int(std::ceil(cx + reach)));
    const int y0 = std::max(0, int(std::floor(cy - reach)));
    const int y1 = std::min(H - 1, int(std::ceil(cy + reach)));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double r = std::hypot(x - cx, y - cy);
            if (r < reach) {
                ring_.emplace_back(float(r), float(grey_[std::size_t(W) * y + x] - sky));
            }
        }
    }
    const auto within = [this](double r) {
        double sum = 0;
        for (const auto& [distance, light] : ring_) {
            sum += light * std::clamp(r - distance + 0.5, 0.0, 1.0);
        }
        return sum;
    };
    const double half = within(radius) / 2;
    if (half <= 0) {
        return 0;
    }
    double low = 0;
    double high = radius;
    for (int i = 0; i < 30; ++i) {
        const double mid = (low + high) / 2;
        (within(mid) < half ? low : high) = mid;
    }
    return low + high; // twice the radius found
}

} // namespace lumenvale
