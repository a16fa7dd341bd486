// The focus star: its size measured to within a few per cent over the widths a webcam sees,
// and which star is measured, with or without a click.
#include "support/StarFrames.h"

#include "analysis/FocusMeasure.h"

#include <gtest/gtest.h>

#include <cmath>
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
    struct Case {
        const char* what;
        std::vector<TestStar> stars;
        std::optional<QPointF> click;
        std::optional<TestStar> measured; // nothing: "no star"
        bool saturated;
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
    };
    FocusMeasure measure;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AcquiredFrame frame = StarFrame(c.stars);
        const auto star = c.click ? measure.measure(frame, *c.click) : measure.measure(frame);
        ASSERT_EQ(star.has_value(), c.measured.has_value());
        if (!star) {
            continue;
        }
        EXPECT_NEAR(star->centre.x(), c.measured->x, 0.5);
        EXPECT_NEAR(star->centre.y(), c.measured->y, 0.5);
        EXPECT_EQ(star->saturated, c.saturated);
        EXPECT_NEAR(star->fwhm, DiameterPerSigma * c.measured->sigma,
                    0.1 * DiameterPerSigma * c.measured->sigma)
            << "a saturated star is sized by its wings";
    }
}
