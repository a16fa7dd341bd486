// Finding and measuring the focus star.
#include "analysis/FocusMeasure.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

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
// The patch of a star: its 3 x 3 sums this many of their sigmas above the sky, joined to the
// brightest of them; a patch this large is no star (the moon, a lit cloud).
constexpr double FillSigmas = 3;
constexpr std::size_t MaxFillPixels = 13000; // a disc as wide as the largest aperture
constexpr std::size_t MaxDetections = 60000; // each patch is numbered in 16 bits
constexpr std::uint16_t NoStar = 0xffff;     // a patch of noise, found and passed over
// A patch's light against the noise of its pixels: a star stands out far more than noise.
constexpr double MinSignificance = 8;
// The aperture starts this far past the patch, and never smaller than this.
constexpr double FillMargin = 2;
constexpr double MinAperture = 4;
// The curve of growth stops rising where the next rings, this many pixels wide together, add
// less light than this many sigmas of their noise.
constexpr int GrowthBand = 4;
constexpr double GrowthSigmas = 1;
constexpr double RiseSigmas = 3;
// The sky is read in a ring just outside the aperture, clipped to this many noise sigmas
// around its median.
constexpr double RingGap = 2;
constexpr double RingWidth = 8;
constexpr double ClipSigmas = 2.5;
constexpr std::size_t MinRingPixels = 20;
// The centre is the centroid of the pixels this many noise sigmas above the sky, found again
// with each new sky and aperture.
constexpr double CentroidSigmas = 2;
constexpr int Passes = 3;
// A donut: the middle darker than half the brightest ring, on a star this wide at least.
constexpr double DonutHoleShare = 0.5;
constexpr double MinDonutHfd = 5;

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

const std::vector<FocusMeasure::Detection>& FocusMeasure::detect(const AcquiredFrame& frame) {
    findCandidates(frame);
    findPatches(std::nullopt);
    return detections_;
}

void FocusMeasure::findPatches(std::optional<QPointF> near) {
    std::sort(candidates_.begin(), candidates_.end(),
              [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
    // Only the pixels the last frame's patches took are cleared, not the whole frame.
    owner_.resize(std::size_t(W) * H, 0);
    for (const int i : claimed_) {
        owner_[std::size_t(i)] = 0;
    }
    claimed_.clear();
    detections_.clear();
    // Around a given point, only the stars that may be picked there and their neighbours in
    // its aperture and sky ring matter.
    constexpr double Reach = PickRadius + 2 * MaxAperture + RingGap + RingWidth;
    // A wide star shows many local maxima (all around a donut's ring): the first one found
    // takes the whole patch of light, and the others fall inside it.
    for (const Candidate& c : candidates_) {
        if (detections_.size() == MaxDetections) {
            break;
        }
        if (near && std::hypot(c.x - near->x(), c.y - near->y()) > Reach) {
            continue;
        }
        if (auto found = fill(c, std::uint16_t(detections_.size() + 1))) {
            detections_.push_back(*found);
        }
    }
    std::sort(detections_.begin(), detections_.end(),
              [](const Detection& a, const Detection& b) { return a.light > b.light; });
}

std::optional<FocusMeasure::Star> FocusMeasure::measure(const AcquiredFrame& frame) {
    detect(frame);
    const Detection* brightestSaturated = nullptr;
    int tries = 0;
    for (const Detection& d : detections_) {
        if (d.saturated) {
            if (brightestSaturated == nullptr) {
                brightestSaturated = &d;
            }
            continue;
        }
        if (auto star = measureAt(d)) {
            return star;
        }
        if (++tries == MaxTries) {
            break;
        }
    }
    return brightestSaturated != nullptr ? measureAt(*brightestSaturated) : std::nullopt;
}

std::optional<FocusMeasure::Star> FocusMeasure::measure(const AcquiredFrame& frame, QPointF near) {
    findCandidates(frame);
    findPatches(near);
    const auto centreDistance = [near](const Detection& d) {
        return std::hypot(d.centre.x() - near.x(), d.centre.y() - near.y());
    };
    // From the star's edge, so a click anywhere on a wide donut picks it.
    const auto edgeDistance = [&](const Detection& d) {
        return std::max(0.0, centreDistance(d) - d.extent);
    };
    std::vector<const Detection*> nearby;
    for (const Detection& d : detections_) {
        if (edgeDistance(d) <= PickRadius) {
            nearby.push_back(&d);
        }
    }
    std::sort(nearby.begin(), nearby.end(), [&](const Detection* a, const Detection* b) {
        const double ea = edgeDistance(*a);
        const double eb = edgeDistance(*b);
        return ea != eb ? ea < eb : centreDistance(*a) < centreDistance(*b);
    });
    for (std::size_t i = 0; i < nearby.size() && i < std::size_t(MaxTries); ++i) {
        if (auto star = measureAt(*nearby[i])) {
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

// A pixel of another star's patch: left out of the star measured, its ring and its sky.
bool FocusMeasure::neighbour(int x, int y) const {
    const std::uint16_t patch = owner_[std::size_t(W) * y + x];
    return patch != 0 && patch != measuring_;
}

int FocusMeasure::brightestColour(int x, int y) const {
    const std::uint8_t* p = frame_->storedRow(H - 1 - y) + std::ptrdiff_t(3) * x;
    return std::max({p[0], p[1], p[2]});
}

// The patch of light around `seed`: every pixel joined to it whose 3 x 3 sum stands out of the
// sky, its light-weighted centre, and its size.
std::optional<FocusMeasure::Detection> FocusMeasure::fill(const Candidate& seed,
                                                          std::uint16_t patch) {
    const int start = seed.y * W + seed.x;
    if (owner_[std::size_t(start)] != 0) {
        return std::nullopt;
    }
    const double sky = skyAt(seed.x, seed.y);
    const auto threshold = int(9 * sky + FillSigmas * 3 * noise_);
    pending_.clear();
    pending_.push_back(start);
    owner_[std::size_t(start)] = patch;
    double light = 0;
    double sumX = 0;
    double sumY = 0;
    int brightest = start;
    int peak = 0;
    // The border rows and columns have no 3 x 3 sum, so the fill never leaves the frame.
    for (std::size_t next = 0; next < pending_.size() && pending_.size() < MaxFillPixels; ++next) {
        const int i = pending_[next];
        const int x = i % W;
        const int y = i / W;
        const std::uint16_t g = grey_[std::size_t(i)];
        const double v = std::max(0.0, g - sky);
        light += v;
        sumX += v * x;
        sumY += v * y;
        if (g > grey_[std::size_t(brightest)]) {
            brightest = i;
        }
        // Only a pixel this bright in grey can have one colour clipped.
        if (g >= SaturatedLevel) {
            peak = std::max(peak, brightestColour(x, y));
        }
        for (const int j : {i - 1, i + 1, i - W, i + W}) {
            if (owner_[std::size_t(j)] == 0 && box_[std::size_t(j)] > threshold) {
                owner_[std::size_t(j)] = patch;
                pending_.push_back(j);
            }
        }
    }
    claimed_.insert(claimed_.end(), pending_.begin(), pending_.end());
    peak = std::max(peak, brightestColour(brightest % W, brightest / W));
    // A few pixels of noise that happened to stand out together, or light spread too wide
    // for a star: the amplifier's glow in a corner, the moon, a lit cloud.
    if (light < MinSignificance * noise_ * std::sqrt(double(pending_.size())) ||
        pending_.size() >= MaxFillPixels) {
        for (const int i : pending_) {
            owner_[std::size_t(i)] = NoStar;
        }
        return std::nullopt;
    }
    Detection found;
    found.patch = patch;
    found.centre = QPointF(sumX / light, sumY / light);
    found.light = light;
    found.peak = peak;
    found.saturated = peak >= SaturatedLevel;
    double farthest2 = 0;
    for (const int i : pending_) {
        const int column = i % W;
        const int row = i / W;
        const double dx = column - found.centre.x();
        const double dy = row - found.centre.y();
        farthest2 = std::max(farthest2, dx * dx + dy * dy);
    }
    found.extent = std::sqrt(farthest2);
    return found;
}

std::optional<FocusMeasure::Star> FocusMeasure::measureAt(const Detection& found) {
    measuring_ = found.patch;
    // The centre, the sky ring and the aperture depend on one another: each pass takes the
    // others from the pass before. The patch as found reaches past nearly all of the light.
    QPointF centre = found.centre;
    double aperture = std::max(MinAperture, found.extent + FillMargin);
    double sky = skyAt(int(centre.x()), int(centre.y()));
    for (int pass = 0; pass < Passes; ++pass) {
        sky = clippedRingMean(centre.x(), centre.y(), aperture + RingGap,
                              aperture + RingGap + RingWidth);
        centre = centroid(centre, aperture, sky);
        profile(centre);
        aperture = growAperture(std::max(MinAperture, found.extent + FillMargin), sky);
    }
    const double hfd = halfFluxDiameter(centre, aperture, sky);
    if (hfd <= 0) {
        return std::nullopt;
    }

    Star star;
    star.centre = centre;
    star.hfd = hfd;
    star.background = sky / 3;
    star.peak = found.peak;
    star.saturated = found.saturated;
    // Light per pixel at the very centre against the brightest ring: a donut's centre is its
    // darker hole, while a sharp star is brightest (or clipped flat) there.
    double brightestRing = 0;
    for (std::size_t r = 2; r < ringLight_.size() && double(r) < aperture; ++r) {
        if (ringPixels_[r] > 0) {
            brightestRing = std::max(brightestRing, ringLight_[r] / ringPixels_[r] - sky);
        }
    }
    const int middlePixels = ringPixels_[0] + ringPixels_[1];
    const double middle =
        middlePixels > 0 ? (ringLight_[0] + ringLight_[1]) / middlePixels - sky : 0;
    star.donut = hfd >= MinDonutHfd && middle < DonutHoleShare * brightestRing;
    if (!star.donut) {
        if (const auto fit = fitFrom(centre.x(), centre.y(), sky)) {
            star.fwhm = FwhmPerSigma * fit->sigma;
        }
    }
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

// The Gaussian of the star, fitted from its centre outward: a clipped core gives nothing to
// fit, so the first fit widens until it reaches the wings.
std::optional<FocusMeasure::Fit> FocusMeasure::fitFrom(double cx, double cy, double sky) const {
    std::optional<Fit> fit;
    for (double radius = 6; !fit && radius <= 24; radius *= 2) {
        fit = fitGaussian(cx, cy, radius, sky, std::nullopt);
    }
    for (int pass = 0; pass < 4 && fit; ++pass) {
        fit = fitGaussian(fit->x, fit->y, fitRadius(fit->sigma), sky, fit);
    }
    // A fit that slid away from the star's centre has found a neighbour or nothing.
    if (!fit || std::hypot(fit->x - cx, fit->y - cy) > std::max(3.0, fit->sigma)) {
        return std::nullopt;
    }
    return fit;
}

// The grey sky of the ring: a mean over the values near its median, so a neighbouring star,
// a hot pixel or the wing of a brighter star in the ring do not count.
double FocusMeasure::clippedRingMean(double cx, double cy, double inner, double outer) {
    scratch_.clear();
    const int x0 = std::max(0, int(std::floor(cx - outer)));
    const int x1 = std::min(W - 1, int(std::ceil(cx + outer)));
    const int y0 = std::max(0, int(std::floor(cy - outer)));
    const int y1 = std::min(H - 1, int(std::ceil(cy + outer)));
    const double inner2 = inner * inner;
    const double outer2 = outer * outer;
    for (int y = y0; y <= y1; ++y) {
        const double dy2 = (y - cy) * (y - cy);
        for (int x = x0; x <= x1; ++x) {
            const double r2 = (x - cx) * (x - cx) + dy2;
            if (r2 >= inner2 && r2 < outer2 && !neighbour(x, y)) {
                scratch_.push_back(grey_[std::size_t(W) * y + x]);
            }
        }
    }
    if (scratch_.size() < MinRingPixels) {
        return skyAt(int(cx), int(cy));
    }
    const auto middle = scratch_.begin() + std::ptrdiff_t(scratch_.size() / 2);
    std::nth_element(scratch_.begin(), middle, scratch_.end());
    const double median = *middle;
    // The frame's own noise sets the clip: a neighbour in the ring widens no spread of the ring.
    const double limit = ClipSigmas * noise_;
    double kept = 0;
    double total = 0;
    for (const std::uint16_t v : scratch_) {
        if (std::abs(v - median) <= limit) {
            total += v;
            ++kept;
        }
    }
    return kept > 0 ? total / kept : median;
}

// The centre of the light well above the sky within `radius` of `centre`: on a donut, the
// middle of its hole.
QPointF FocusMeasure::centroid(QPointF centre, double radius, double sky) const {
    const double cx = centre.x();
    const double cy = centre.y();
    const int x0 = std::max(0, int(std::floor(cx - radius)));
    const int x1 = std::min(W - 1, int(std::ceil(cx + radius)));
    const int y0 = std::max(0, int(std::floor(cy - radius)));
    const int y1 = std::min(H - 1, int(std::ceil(cy + radius)));
    const double floor = CentroidSigmas * noise_;
    const double r2max = radius * radius;
    double light = 0;
    double sumX = 0;
    double sumY = 0;
    for (int y = y0; y <= y1; ++y) {
        const std::uint16_t* g = grey_.data() + std::size_t(W) * y;
        for (int x = x0; x <= x1; ++x) {
            const double v = g[x] - sky;
            if (v > floor && (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r2max &&
                !neighbour(x, y)) {
                light += v;
                sumX += v * x;
                sumY += v * y;
            }
        }
    }
    return light > 0 ? QPointF(sumX / light, sumY / light) : centre;
}

// The grey light and pixel count of each ring one pixel wide around `centre`, out to where the
// aperture may grow.
void FocusMeasure::profile(QPointF centre) {
    const int rings = int(MaxAperture) + GrowthBand + 1;
    ringLight_.assign(std::size_t(rings), 0);
    ringPixels_.assign(std::size_t(rings), 0);
    const double cx = centre.x();
    const double cy = centre.y();
    const int x0 = std::max(0, int(std::floor(cx - rings)));
    const int x1 = std::min(W - 1, int(std::ceil(cx + rings)));
    const int y0 = std::max(0, int(std::floor(cy - rings)));
    const int y1 = std::min(H - 1, int(std::ceil(cy + rings)));
    for (int y = y0; y <= y1; ++y) {
        const std::uint16_t* g = grey_.data() + std::size_t(W) * y;
        const double dy2 = (y - cy) * (y - cy);
        for (int x = x0; x <= x1; ++x) {
            const auto r = std::size_t(std::sqrt((x - cx) * (x - cx) + dy2));
            if (r < std::size_t(rings) && !neighbour(x, y)) {
                ringLight_[r] += g[x];
                ++ringPixels_[r];
            }
        }
    }
}

// The curve of growth followed outward from `from` while the next rings still add light that
// stands out of their noise; the radius where it stops rising.
double FocusMeasure::growAperture(double from, double sky) const {
    int radius = int(std::ceil(from));
    double before = std::numeric_limits<double>::infinity();
    for (; radius < int(MaxAperture); ++radius) {
        double light = 0;
        int pixels = 0;
        for (int r = radius; r < radius + GrowthBand; ++r) {
            light += ringLight_[std::size_t(r)] - sky * ringPixels_[std::size_t(r)];
            pixels += ringPixels_[std::size_t(r)];
        }
        const double noise = noise_ * std::sqrt(double(pixels));
        if (pixels == 0 || light < GrowthSigmas * noise) {
            break;
        }
        // Outside its ring a star only fades: light that rises again is a neighbour's wing.
        if (light / pixels > before + RiseSigmas * noise / pixels) {
            break;
        }
        before = light / pixels;
    }
    return std::min(double(radius), MaxAperture);
}

// Each pixel counts as a ramp one pixel wide across its distance from the centre, so the light
// within a radius grows smoothly and the half-flux radius falls between pixels.
double FocusMeasure::halfFluxDiameter(QPointF centre, double radius, double sky) {
    ring_.clear();
    const double cx = centre.x();
    const double cy = centre.y();
    const double reach = radius + 0.5;
    const int x0 = std::max(0, int(std::floor(cx - reach)));
    const int x1 = std::min(W - 1, int(std::ceil(cx + reach)));
    const int y0 = std::max(0, int(std::floor(cy - reach)));
    const int y1 = std::min(H - 1, int(std::ceil(cy + reach)));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double r = std::hypot(x - cx, y - cy);
            if (r < reach && !neighbour(x, y)) {
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
    for (int i = 0; i < 24; ++i) {
        const double mid = (low + high) / 2;
        (within(mid) < half ? low : high) = mid;
    }
    return low + high; // twice the radius found
}

} // namespace lumenvale
