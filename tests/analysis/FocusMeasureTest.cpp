// The focus star: its size measured to within a few per cent over the widths and shapes a
// webcam sees, from sharp to far out of focus, and which star is measured and followed; never
// the amplifier's glow, a gradient, a nebula or a hot pixel.
#include "support/StarFrames.h"

#include "acquisition/simulated/SimulatedCamera.h"
#include "analysis/FocusMeasure.h"
#include "analysis/FocusTracker.h"
#include "lines/LineMonitor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <vector>

using namespace lumenvale;
using namespace lumenvale::test;

namespace {

// For a round Gaussian star both diameters are 2 sqrt(2 ln 2) sigma.
constexpr double DiameterPerSigma = 2.354820045;

} // namespace

TEST(FocusMeasureTest, HfdAndFwhmOfGaussianStarsOnANoisySky) {
    const std::vector<double> sigmas = {1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 6.0};
    FocusMeasure measure;
    std::uint32_t seed = 1;
    for (const double sigma : sigmas) {
        // Off the pixel grid in both directions, differently each time.
        for (const auto& [x, y] : {std::pair{320.3, 240.7}, std::pair{120.55, 380.15}}) {
            SCOPED_TRACE(testing::Message() << "sigma " << sigma << " at " << x << ", " << y);
            const auto star = measure.measure(StarFrame({{x, y, sigma, 100}}, 30, 3, seed++));
            ASSERT_TRUE(star.has_value());
            const double expected = DiameterPerSigma * sigma;
            EXPECT_NEAR(star->hfd, expected, 0.05 * expected);
            EXPECT_NEAR(star->fwhm, expected, 0.05 * expected);
            EXPECT_NEAR(star->centre.x(), x, 0.3);
            EXPECT_NEAR(star->centre.y(), y, 0.3);
            EXPECT_NEAR(star->background, 30, 1);
            EXPECT_FALSE(star->saturated);
        }
    }
}

TEST(FocusMeasureTest, MeasuresTheBrightestUnsaturatedStarOrTheOneClicked) {
    const TestStar saturated{100.4, 100.2, 2.0, 600};
    const TestStar bright{300.6, 200.3, 2.5, 150};
    const TestStar faint{500.2, 400.8, 1.5, 60};
    const TestStar hotPixel{200.0, 300.0, 0.2, 220};
    // A faint star, 20 above the sky, far from a corner glowing ten times as bright.
    const TestStar glowing{420.3, 300.6, 1.5, 20};
    struct Case {
        const char* what;
        std::vector<TestStar> stars;
        std::optional<QPointF> click;
        std::optional<TestStar> measured; // nothing: "no star"
        bool saturated;
        double glow = 0; // in the corner, with a sky gradient and hot pixels
        bool binned = false;
    };
    const std::vector<Case> cases = {
        {"sky only", {}, {}, {}, false},
        {"a hot pixel is not a star", {hotPixel}, {}, {}, false},
        {"the saturated star is passed over", {saturated, bright, faint}, {}, bright, false},
        {"only a saturated star: measured and flagged", {saturated, hotPixel}, {}, saturated, true},
        {"a click beside the faint star picks it",
         {saturated, bright, faint},
         QPointF(505, 396),
         faint,
         false},
        {"a click on the saturated star picks it",
         {saturated, bright},
         QPointF(99, 101),
         saturated,
         true},
        {"a click on empty sky finds none", {bright, faint}, QPointF(50, 420), {}, false},
        {"the glow is no star", {glowing}, {}, glowing, false, 200},
        {"the glow is no star in a binned frame", {glowing}, {}, glowing, false, 200, true},
        {"a faint glow is no star either", {glowing}, {}, glowing, false, 20, true},
        {"a click in the glow finds none", {glowing}, QPointF(12, 10), {}, false, 200},
    };
    FocusMeasure measure;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AcquiredFrame frame =
            c.glow > 0 ? GlowFrame(c.stars, c.glow, c.binned) : StarFrame(c.stars);
        const auto star = c.click ? measure.measure(frame, *c.click) : measure.measure(frame);
        ASSERT_EQ(star.has_value(), c.measured.has_value());
        if (!star) {
            continue;
        }
        // A binned frame's doubled lines move a star by up to half a line and widen it.
        const double diameter = DiameterPerSigma * c.measured->sigma;
        EXPECT_NEAR(star->centre.x(), c.measured->x, 0.5);
        EXPECT_NEAR(star->centre.y(), c.measured->y, c.binned ? 1 : 0.5);
        EXPECT_EQ(star->saturated, c.saturated);
        if (c.binned) {
            EXPECT_NEAR(star->hfd, diameter, 0.3 * diameter);
        } else {
            EXPECT_NEAR(star->fwhm, diameter, 0.1 * diameter)
                << "a saturated star is sized by its wings";
        }
    }
}

// Seeing-limited stars: the half-flux diameter from the curve of growth holds for the Gaussian
// core and the Moffat wings alike, and a saturated neighbour in the sky ring does not count.
TEST(FocusMeasureTest, HfdOfGaussianAndMoffatStarsWithinFivePerCent) {
    struct Case {
        const char* what;
        std::function<double(int, int)> light;
        double hfd;
    };
    const auto gaussian = [](double sigma) {
        return Case{"gaussian",
                    [=](int x, int y) {
                        const double r2 = (x - 320.3) * (x - 320.3) + (y - 240.6) * (y - 240.6);
                        return 180 * std::exp(-r2 / (2 * sigma * sigma));
                    },
                    DiameterPerSigma * sigma};
    };
    // FWHM = 2 alpha sqrt(2^(1 / beta) - 1).
    const auto moffat = [](double fwhm, double beta) {
        const MoffatStar star{320.3, 240.6, fwhm / (2 * std::sqrt(std::pow(2, 1 / beta) - 1)), beta,
                              180};
        return Case{"moffat", star, star.hfd()};
    };
    std::vector<Case> cases;
    for (const double sigma : {1.0, 2.0, 3.0, 4.0, 5.0, 6.0}) {
        cases.push_back(gaussian(sigma));
    }
    for (const double beta : {2.5, 4.0}) {
        for (const double fwhm : {3.0, 6.0}) {
            cases.push_back(moffat(fwhm, beta));
        }
    }
    const MoffatStar faint{320.3, 240.6, 2.5, 2.5, 60};
    const MoffatStar saturated{340.1, 240.4, 2.0, 2.5, 2000};
    cases.push_back({"a faint star 20 px from a saturated one",
                     [=](int x, int y) { return faint(x, y) + saturated(x, y); }, faint.hfd()});

    FocusMeasure measure;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.what << " of HFD " << c.hfd);
        constexpr int Draws = 4;
        double sum = 0;
        for (std::uint32_t seed = 1; seed <= Draws; ++seed) {
            const auto star = measure.measure(SkyFrame(c.light, 20, 3, seed), QPointF(320, 240));
            ASSERT_TRUE(star.has_value());
            EXPECT_NEAR(star->centre.x(), 320.3, 0.5);
            EXPECT_NEAR(star->centre.y(), 240.6, 0.5);
            sum += star->hfd;
        }
        EXPECT_NEAR(sum / Draws, c.hfd, 0.05 * c.hfd);
    }
}

// A defocused star with a 35 % central obstruction, as every focus run starts: centred on its
// hole, sized by its whole ring, and no FWHM claimed for it.
TEST(FocusMeasureTest, DonutsAreCentredOnTheirHoleAndSizedWithinTenPerCent) {
    FocusMeasure measure;
    std::uint32_t seed = 1;
    for (const double radius : {6.0, 9.0, 12.0, 16.0, 20.0, 25.0, 30.0}) {
        const DonutStar donut{310.4, 250.7, radius, 0.35 * radius, 25};
        SCOPED_TRACE(testing::Message() << "ring radius " << radius);
        for (int draw = 0; draw < 2; ++draw) {
            const auto star = measure.measure(SkyFrame(donut, 20, 3, seed++));
            ASSERT_TRUE(star.has_value());
            EXPECT_NEAR(star->hfd, donut.hfd(), 0.1 * donut.hfd());
            EXPECT_NEAR(star->centre.x(), donut.x, 1);
            EXPECT_NEAR(star->centre.y(), donut.y, 1);
            EXPECT_TRUE(star->donut);
            EXPECT_FALSE(star->fwhmMeaningful());
        }
    }
}

// Turning the focuser through focus with the star's light held constant: a donut of radius 20
// shrinks to a star whose core clips, then grows again. The star followed is there in every
// frame, and its HFD falls, is smallest at focus, and rises.
TEST(FocusMeasureTest, AFocusRunKeepsItsStarAndFindsTheSmallestHfdAtFocus) {
    constexpr double Light = 13000; // per colour value: about 12 above the sky at radius 20
    const std::vector<double> radii = {20, 17, 14, 11, 8, 5, 3};
    std::vector<AcquiredFrame> run;
    std::uint32_t seed = 1;
    const auto donut = [&](double r) {
        DonutStar d{300.5, 220.5, r, 0.35 * r, 1};
        d.brightness = Light / d.light();
        run.push_back(SkyFrame(d, 20, 3, seed++));
    };
    for (const double r : radii) {
        donut(r);
    }
    constexpr double Seeing = 1.2; // the sigma of the star at focus
    const TestStar focused{300.5, 220.5, Seeing, Light / (2 * M_PI * Seeing * Seeing)};
    run.push_back(StarFrame({focused}, 20, 3, seed++));
    const std::size_t focus = run.size() - 1;
    for (auto r = radii.rbegin(); r != radii.rend(); ++r) {
        donut(*r);
    }

    FocusTracker tracker;
    std::vector<double> hfds;
    for (std::size_t i = 0; i < run.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "frame " << i);
        const auto star = tracker.next(run[i]);
        ASSERT_TRUE(star.has_value());
        EXPECT_NEAR(star->centre.x(), 300.5, 1);
        EXPECT_NEAR(star->centre.y(), 220.5, 1);
        if (i == focus) {
            EXPECT_TRUE(star->saturated) << "the core clips at focus";
            EXPECT_FALSE(star->fwhmMeaningful());
        }
        hfds.push_back(star->hfd);
    }
    EXPECT_EQ(tracker.starNumber(), 1) << "one star all through the run";
    for (std::size_t i = 1; i < hfds.size(); ++i) {
        if (i <= focus) {
            EXPECT_LT(hfds[i], hfds[i - 1]) << "falling towards focus, frame " << i;
        } else {
            EXPECT_GT(hfds[i], hfds[i - 1]) << "rising past focus, frame " << i;
        }
    }
}

// The simulated camera's own long exposures: the amplifier glows in a corner and a nebula
// lies near the middle, and neither is ever measured as the star.
TEST(FocusMeasureTest, TheSimulatedCamerasLongExposuresAreMeasuredOnAStar) {
    LineMonitor lines;
    SimulatedCamera camera(lines);
    FocusMeasure measure;
    for (const auto readout : {SimulatedCamera::Readout::Binned, SimulatedCamera::Readout::Full}) {
        for (int i = 0; i < 3; ++i) {
            AcquiredFrame frame = camera.render({readout, 2000, true});
            if (readout == SimulatedCamera::Readout::Binned) {
                frame = LinesDoubled(std::move(frame));
            }
            const auto star = measure.measure(frame);
            ASSERT_TRUE(star.has_value());
            EXPECT_LT(star->hfd, 10) << "at " << star->centre.x() << ", " << star->centre.y();
        }
    }
}

// A star followed through a focus run keeps its place while it is gone: a neighbour within the
// pick radius does not take it, the star is taken again when it comes back, and only five
// frames without it, or a click, change the star.
TEST(FocusMeasureTest, TheFollowedStarKeepsItsPlaceWhileItIsGone) {
    const TestStar followed{300.5, 220.5, 2.0, 150};
    const TestStar neighbour{315.5, 228.5, 1.5, 80}; // 17 px away
    const TestStar other{500.5, 100.5, 1.5, 60};
    struct Step {
        std::vector<TestStar> stars;
        std::optional<QPointF> click;
        std::optional<TestStar> measured; // nothing: "no star"
        int starNumber;
    };
    const std::vector<Step> steps = {
        {{followed, neighbour}, {}, followed, 1},
        {{neighbour}, {}, {}, 1}, // a cloud: gone for four frames
        {{neighbour}, {}, {}, 1},
        {{neighbour}, {}, {}, 1},
        {{neighbour}, {}, {}, 1},
        {{followed, neighbour}, {}, followed, 1}, // back: the same star
        {{neighbour, other}, {}, {}, 1},          // gone for five frames
        {{neighbour, other}, {}, {}, 1},
        {{neighbour, other}, {}, {}, 1},
        {{neighbour, other}, {}, {}, 1},
        {{neighbour, other}, {}, neighbour, 2}, // the brightest one now
        {{neighbour, other}, QPointF(497, 104), other, 3},
    };
    FocusTracker tracker;
    std::uint32_t seed = 1;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "frame " << i);
        const Step& step = steps[i];
        if (step.click) {
            tracker.pick(*step.click);
        }
        const auto star = tracker.next(StarFrame(step.stars, 30, 2, seed++));
        ASSERT_EQ(star.has_value(), step.measured.has_value());
        if (star) {
            EXPECT_NEAR(star->centre.x(), step.measured->x, 0.5);
            EXPECT_NEAR(star->centre.y(), step.measured->y, 0.5);
        }
        EXPECT_EQ(tracker.starNumber(), step.starNumber);
    }
}
