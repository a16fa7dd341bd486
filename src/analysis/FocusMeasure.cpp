// Finding and measuring the focus star.
#include "analysis/FocusMeasure.h"

#include "analysis/FloatPicture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace lumenvale {

namespace {

constexpr int W = AcquiredFrame::Width;
constexpr int H = AcquiredFrame::Height;

// Stars looked at before giving up on a frame.
constexpr int MaxTries = 16;
// Only the brighter part of a star tells its shape; the faint wings are mostly noise.
constexpr double FitFloorShare = 0.1;
constexpr double FitFloorSigmas = 3;
constexpr int MinFitPoints = 6;
constexpr double FwhmPerSigma = 2.354820045; // 2 sqrt(2 ln 2)
constexpr double MinSigma = 0.25;
constexpr double MaxSigma = 25;
// The aperture starts this far past the patch, and never smaller than this.
constexpr double FillMargin = 2;
constexpr double MinAperture = 4;
// A star's faint wings reach past its patch, but not this many times as far: light farther out
// is the nebula or the glow it stands on.
constexpr double MaxGrowth = 2;
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
    readGrey(frame);
    const StarPatch* brightestSaturated = nullptr;
    int tries = 0;
    for (const StarPatch& found : finder_.detect(grey_, W, H)) {
        if (peakOf(found) >= SaturatedLevel) {
            if (brightestSaturated == nullptr) {
                brightestSaturated = &found;
            }
            continue;
        }
        if (auto star = measureAt(found)) {
            return measured(star);
        }
        if (++tries == MaxTries) {
            break;
        }
    }
    return measured(brightestSaturated != nullptr ? measureAt(*brightestSaturated) : std::nullopt);
}

std::optional<FocusMeasure::Star> FocusMeasure::measure(const AcquiredFrame& frame, QPointF near) {
    return measureNear(
        frame, near,
        [near](const StarPatch& d) {
            return std::max(0.0, std::hypot(d.centre.x() - near.x(), d.centre.y() - near.y()) -
                                     d.extent);
        },
        PickRadius);
}

std::optional<FocusMeasure::Star> FocusMeasure::follow(const AcquiredFrame& frame, QPointF centre,
                                                       double radius) {
    return measureNear(
        frame, centre,
        [centre](const StarPatch& d) {
            return std::hypot(d.centre.x() - centre.x(), d.centre.y() - centre.y());
        },
        radius);
}

template <typename Distance>
std::optional<FocusMeasure::Star> FocusMeasure::measureNear(const AcquiredFrame& frame,
                                                            QPointF near, Distance distance,
                                                            double limit) {
    readGrey(frame);
    // Only the stars that may be picked there and their neighbours in its aperture and sky
    // ring matter.
    constexpr double Reach = PickRadius + 2 * MaxAperture + RingGap + RingWidth;
    const std::vector<StarPatch>& found = finder_.detect(grey_, W, H, near, Reach);
    const auto centreDistance = [near](const StarPatch& d) {
        return std::hypot(d.centre.x() - near.x(), d.centre.y() - near.y());
    };
    std::vector<const StarPatch*> nearby;
    for (const StarPatch& d : found) {
        if (distance(d) <= limit) {
            nearby.push_back(&d);
        }
    }
    std::sort(nearby.begin(), nearby.end(), [&](const StarPatch* a, const StarPatch* b) {
        const double da = distance(*a);
        const double db = distance(*b);
        return da != db ? da < db : centreDistance(*a) < centreDistance(*b);
    });
    for (std::size_t i = 0; i < nearby.size() && i < std::size_t(MaxTries); ++i) {
        if (auto star = measureAt(*nearby[i])) {
            return measured(star);
        }
    }
    return measured(std::nullopt);
}

std::optional<FocusMeasure::Star> FocusMeasure::measured(std::optional<Star> star) {
    others_.clear();
    if (star) {
        for (const StarPatch& d : finder_.stars()) {
            const double apart =
                std::hypot(d.centre.x() - star->centre.x(), d.centre.y() - star->centre.y());
            if (d.number != measuring_ && apart - d.extent <= PickRadius) {
                others_.push_back(d);
            }
        }
    }
    return star;
}

void FocusMeasure::readGrey(const AcquiredFrame& frame) {
    frame_ = &frame;
    grey_.resize(std::size_t(W) * H);
    for (int y = 0; y < H; ++y) {
        const std::uint8_t* in = frame.storedRow(H - 1 - y);
        float* out = grey_.data() + std::size_t(W) * y;
        for (int x = 0; x < W; ++x, in += 3) {
            out[x] = float(in[0] + in[1] + in[2]);
        }
    }
}

// A pixel of another star's patch, or of light passed over: left out of the star measured, its
// ring and its sky.
bool FocusMeasure::neighbour(int x, int y) const {
    const std::uint16_t mark = finder_.owner(x, y);
    return mark != 0 && mark != measuring_;
}

int FocusMeasure::brightestColour(int x, int y) const {
    const std::uint8_t* p = frame_->storedRow(H - 1 - y) + std::ptrdiff_t(3) * x;
    return std::max({p[0], p[1], p[2]});
}

int FocusMeasure::peakOf(const StarPatch& found) const {
    const std::vector<int>& pixels = finder_.pixels();
    int brightest = pixels[found.first];
    int peak = 0;
    for (std::size_t k = found.first; k < found.first + found.count; ++k) {
        const int i = pixels[k];
        const float g = grey_[std::size_t(i)];
        if (g > grey_[std::size_t(brightest)]) {
            brightest = i;
        }
        // Only a pixel this bright in grey can have one colour clipped.
        if (g >= SaturatedLevel) {
            peak = std::max(peak, brightestColour(i % W, i / W));
        }
    }
    return std::max(peak, brightestColour(brightest % W, brightest / W));
}

std::optional<FocusMeasure::Star> FocusMeasure::measureAt(const StarPatch& found) {
    measuring_ = found.number;
    noise_ = finder_.noise();
    // The centre, the sky ring and the aperture depend on one another: each pass takes the
    // others from the pass before. The patch as found reaches past nearly all of the light.
    QPointF centre = found.centre;
    const double start = std::max(MinAperture, found.extent + FillMargin);
    double aperture = start;
    double sky = finder_.skyAt(int(centre.x()), int(centre.y()));
    for (int pass = 0; pass < Passes; ++pass) {
        sky = clippedRingMean(centre.x(), centre.y(), aperture + RingGap,
                              aperture + RingGap + RingWidth);
        centre = centroid(centre, aperture, sky);
        profile(centre);
        aperture = growAperture(start, std::min(MaxAperture, MaxGrowth * start), sky);
    }
    const double hfd = halfFluxDiameter(centre, aperture, sky);
    if (hfd <= 0) {
        return std::nullopt;
    }

    Star star;
    star.centre = centre;
    star.hfd = hfd;
    star.background = sky / 3;
    star.peak = peakOf(found);
    star.saturated = star.peak >= SaturatedLevel;
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
    ringValues_.clear();
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
                ringValues_.push_back(grey_[std::size_t(W) * y + x]);
            }
        }
    }
    if (ringValues_.size() < MinRingPixels) {
        return finder_.skyAt(int(cx), int(cy));
    }
    const double median = MiddleValue(ringValues_);
    // The frame's own noise sets the clip: a neighbour in the ring widens no spread of the ring.
    const double limit = ClipSigmas * noise_;
    double kept = 0;
    double total = 0;
    for (const float v : ringValues_) {
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
        const float* g = grey_.data() + std::size_t(W) * y;
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
        const float* g = grey_.data() + std::size_t(W) * y;
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
// stands out of their noise, out to `most` at the farthest; the radius where it stops rising.
double FocusMeasure::growAperture(double from, double most, double sky) const {
    int radius = int(std::ceil(from));
    double before = std::numeric_limits<double>::infinity();
    for (; radius < int(most); ++radius) {
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
