// The live stack against known truth: frames of one star field turned and shifted by known
// amounts, noise that must fall as the square root of the frames, a satellite trail, frames
// that cannot be aligned, the master dark's glow and hot pixels, a flat's dead pixels, and the
// darks' FITS files the right way up.
#include "support/StarFields.h"
#include "support/TempDirTest.h"

#include "analysis/DarkLibrary.h"
#include "analysis/LiveStack.h"
#include "analysis/MasterDark.h"
#include "analysis/MasterFlat.h"
#include "analysis/StarFinder.h"

#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using namespace lumenvale;
using namespace lumenvale::test;

namespace {

// The spread of the values of a star-free patch of one colour.
double PatchSpread(const FloatPicture& picture, int x0, int y0, int size) {
    double sum = 0;
    double sum2 = 0;
    int n = 0;
    for (int y = y0; y < y0 + size; ++y) {
        for (int x = x0; x < x0 + size; ++x) {
            const double v = picture.row(y)[3 * x + 1];
            sum += v;
            sum2 += v * v;
            ++n;
        }
    }
    const double mean = sum / n;
    return std::sqrt(sum2 / n - mean * mean);
}

const std::vector<FieldStar>& Stars() {
    static const std::vector<FieldStar> stars = RandomStars(45);
    return stars;
}

} // namespace

TEST(LiveStackTest, RecoversShiftAndRotationToAFifthOfAPixelOverTheFrame) {
    const std::vector<FieldView> views = {
        {0, 0, 0},        {40, 0, 0},        {-40, 25, 0},   {12.3, -7.7, 0.5},
        {-30.5, 35, 2.0}, {0.25, 0.5, -2.0}, {25, 40, -1.3},
    };
    for (const FieldView& view : views) {
        SCOPED_TRACE(testing::Message()
                     << "shift " << view.dx << ", " << view.dy << ", turn " << view.degrees);
        LiveStack stack;
        ASSERT_TRUE(stack.add(StarField(Stars(), {}, 30, 2, 1), nullptr, 30).stacked);
        const LiveStack::Outcome outcome =
            stack.add(StarField(Stars(), view, 30, 2, 2), nullptr, 30);
        ASSERT_TRUE(outcome.stacked) << outcome.problem.toStdString();
        EXPECT_GE(outcome.matchedStars, LiveStack::MinMatchedStars);
        EXPECT_NEAR(outcome.transform.rotationDegrees(), -view.degrees, 0.02);
        for (const auto& [x, y] :
             {std::pair{0.0, 0.0}, {639.0, 0.0}, {0.0, 479.0}, {639.0, 479.0}}) {
            double fx = 0;
            double fy = 0;
            view.map(x, y, fx, fy);
            EXPECT_LT(
                std::hypot(outcome.transform.mapX(fx, fy) - x, outcome.transform.mapY(fx, fy) - y),
                0.2)
                << "corner " << x << ", " << y;
        }
    }
}

// A dark taken warmer than the lights leaves their sky below zero once subtracted: the same
// stars are found, and no patch of light runs off the picture's edge.
TEST(LiveStackTest, StarsAreFoundOnASkyBelowZero) {
    const FloatPicture light = StarField(Stars(), {}, 30, 2, 1);
    FloatPicture subtracted = light;
    for (float& v : subtracted.values) {
        v -= 45;
    }
    const std::vector<StarPoint> stars = StarFinder::find(light, LiveStack::MaxStars);
    const std::vector<StarPoint> found = StarFinder::find(subtracted, LiveStack::MaxStars);
    ASSERT_EQ(found.size(), stars.size());
    for (std::size_t i = 0; i < stars.size(); ++i) {
        EXPECT_NEAR(found[i].x, stars[i].x, 1e-3);
        EXPECT_NEAR(found[i].y, stars[i].y, 1e-3);
    }
}

TEST(LiveStackTest, NoiseFallsAsTheSquareRootOfTheFramesStacked) {
    constexpr int Frames = 16;
    constexpr double Noise = 4;
    LiveStack stack;
    // A star-free corner of the field.
    const FloatPicture first = StarField(Stars(), {}, 40, Noise, 100);
    const double single = PatchSpread(first, 480, 20, 60);
    ASSERT_NEAR(single, Noise, 0.4);
    stack.add(first, nullptr, 10);
    for (int i = 1; i < Frames; ++i) {
        ASSERT_TRUE(stack.add(StarField(Stars(), {}, 40, Noise, 100 + i), nullptr, 10).stacked);
    }
    EXPECT_EQ(stack.stacked(), Frames);
    EXPECT_DOUBLE_EQ(stack.totalExposureSeconds(), 160);
    EXPECT_NEAR(PatchSpread(stack.mean(), 480, 20, 60) / (single / std::sqrt(Frames)), 1.0, 0.1);
}

TEST(LiveStackTest, ASatelliteTrailInOneFrameOfTenIsLeftOut) {
    LiveStack clear;
    LiveStack crossed;
    for (int i = 0; i < 10; ++i) {
        FloatPicture frame = StarField(Stars(), {i * 1.5, -i * 1.0, 0.1 * i}, 30, 2, 200 + i);
        ASSERT_TRUE(clear.add(frame, nullptr, 30).stacked) << "frame " << i;
        if (i == 6) {
            for (int x = 0; x < 640; ++x) {
                for (int c = 0; c < 3; ++c) {
                    frame.row(100 + x / 4)[3 * x + c] = 220;
                }
            }
        }
        ASSERT_TRUE(crossed.add(frame, nullptr, 30).stacked) << "frame " << i;
    }
    // Left in, the trail would add a tenth of its 190 grey levels along its path.
    double worst = 0;
    for (std::size_t i = 0; i < clear.mean().values.size(); ++i) {
        const float a = clear.mean().values[i];
        const float b = crossed.mean().values[i];
        if (!std::isnan(a) && !std::isnan(b)) {
            worst = std::max(worst, double(std::abs(a - b)));
        }
    }
    EXPECT_LT(worst, 2.0);
}

TEST(LiveStackTest, FramesThatCannotBeAlignedAreCountedAndNeverStacked) {
    LiveStack stack;
    ASSERT_TRUE(stack.add(StarField(Stars(), {}), nullptr, 30).stacked);
    struct Case {
        const char* what;
        FloatPicture frame;
    };
    const std::vector<Case> cases = {
        {"cloud: no stars", StarField({}, {}, 80, 3, 5)},
        {"a few stars only", StarField({Stars().begin(), Stars().begin() + 4}, {}, 30, 2, 6)},
        {"scale off by 1.5 %", StarField(Stars(), {3, 2, 0, 1.015}, 30, 2, 7)},
        {"another size", FloatPicture(320, 240, 30)},
    };
    const FloatPicture before = stack.mean();
    int rejected = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const LiveStack::Outcome outcome = stack.add(c.frame, nullptr, 30);
        EXPECT_FALSE(outcome.stacked);
        EXPECT_FALSE(outcome.problem.isEmpty());
        EXPECT_EQ(stack.rejected(), ++rejected);
    }
    EXPECT_EQ(stack.stacked(), 1);
    EXPECT_EQ(stack.mean().values, before.values);
    // A first frame of cloud starts no stack.
    LiveStack cloudy;
    EXPECT_FALSE(cloudy.add(StarField({}, {}, 80, 3, 5), nullptr, 30).stacked);
    EXPECT_TRUE(cloudy.empty());
}

TEST(LiveStackTest, MasterDarkRemovesTheGlowAndTheHotPixels) {
    // The amplifier's glow in the top right corner, and hot pixels of fixed positions whose
    // level wanders from frame to frame.
    const auto withDarkCurrent = [](FloatPicture frame, std::uint32_t seed) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<float> wander(0.7F, 1.0F);
        for (int y = 0; y < frame.height; ++y) {
            for (int x = 0; x < frame.width; ++x) {
                const double r = std::hypot(639 - x, y);
                for (int c = 0; c < 3; ++c) {
                    frame.row(y)[3 * x + c] += float(60 * std::exp(-r / 80));
                }
            }
        }
        for (int i = 0; i < 40; ++i) {
            const int x = 17 + i * 15;
            const int y = 11 + i * 11;
            frame.row(y)[3 * x + i % 3] = std::min(255.0F, 120 + 130 * wander(random));
        }
        return frame;
    };
    std::vector<QImage> darks;
    for (std::uint32_t i = 0; i < 7; ++i) {
        darks.push_back(PictureOf(withDarkCurrent(StarField({}, {}, 10, 2, 300 + i), 400 + i)));
    }
    const MasterDark dark(MasterDark::Median(darks));
    EXPECT_EQ(dark.hotValues().size(), 40U);

    FloatPicture light = withDarkCurrent(StarField(Stars(), {}, 40, 2, 500), 600);
    const FloatPicture truth = StarField(Stars(), {}, 30, 0, 500);
    dark.apply(light);
    double worst = 0;
    double glowCorner = 0;
    for (int y = 0; y < light.height; ++y) {
        for (int x = 0; x < light.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const double off = light.row(y)[3 * x + c] - truth.row(y)[3 * x + c];
                worst = std::max(worst, std::abs(off));
                if (x > 600 && y < 40) {
                    glowCorner += off;
                }
            }
        }
    }
    // Only the noise of the light and of the dark is left.
    EXPECT_LT(worst, 15);
    EXPECT_NEAR(glowCorner / (39 * 40 * 3), 0, 0.5);
}

TEST(LiveStackTest, AFlatsValuesNearZeroMakeNoHotPixel) {
    // A flat of 100 grey levels with values that hold no light to divide by, and one faint but
    // real (a deep dust shadow) that divides; the light of 40 grey levels seen through it.
    struct Case {
        int x;
        int y;
        float flat;
        bool dead;
    };
    constexpr float Infinite = std::numeric_limits<float>::infinity();
    const std::vector<Case> cases = {
        {100, 100, 0, true},   {200, 100, 1e-6F, true},         {300, 100, 9, true},
        {400, 100, -3, true},  {100, 200, std::nanf(""), true}, {200, 200, Infinite, true},
        {300, 200, 20, false},
    };
    FloatPicture picture(640, 480, 100);
    FloatPicture light = StarField({}, {}, 40, 0, 1);
    for (const Case& c : cases) {
        picture.row(c.y)[3 * c.x + 1] = c.flat;
        light.row(c.y)[3 * c.x + 1] = std::isfinite(c.flat) ? std::max(0.0F, 0.4F * c.flat) : 0;
    }
    const MasterFlat flat(std::move(picture));
    EXPECT_EQ(flat.deadValues().size(),
              std::size_t(
                  std::count_if(cases.begin(), cases.end(), [](const Case& c) { return c.dead; })));
    flat.apply(light);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "flat value " << c.flat);
        EXPECT_NEAR(light.row(c.y)[3 * c.x + 1], 40, 0.5);
    }
    EXPECT_NEAR(light.row(0)[0], 40, 0.5);
}

class DarkLibraryTest : public TempDirTest {};

TEST_F(DarkLibraryTest, ALightTakesTheDarkOfItsModeWithinTwoPerCentOfItsExposure) {
    const DarkLibrary library(dir / "darks");
    FitsPicture dark{StarField({}, {}, 12, 1, 9), {30, "2x1 Binned", 8, "2026-12-08T01:02:03"}};
    const auto file = library.save(dark, 30000);
    EXPECT_EQ(file.filename(), "dark-2x1-Binned-30000ms.fits");
    FitsPicture hires{FloatPicture(640, 480, 5), {60, "Hi-res", 3, "2026-12-08T01:02:03"}};
    library.save(hires, 60000);

    struct Case {
        const char* mode;
        std::int32_t exposureMs;
        bool found;
    };
    for (const Case& c : std::vector<Case>{{"2x1 Binned", 30000, true},
                                           {"2x1 Binned", 30590, true},
                                           {"2x1 Binned", 29420, true},
                                           {"2x1 Binned", 30700, false},
                                           {"2x1 Binned", 60000, false},
                                           {"Hi-res", 30000, false},
                                           {"Hi-res", 60000, true}}) {
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.exposureMs);
        const DarkLibrary::Choice choice = library.find(c.mode, c.exposureMs, 640, 480);
        EXPECT_EQ(choice.dark.has_value(), c.found);
    }

    const DarkLibrary::Choice choice = library.find("2x1 Binned", 30000, 640, 480);
    ASSERT_TRUE(choice.dark);
    EXPECT_EQ(choice.dark->header.readMode, "2x1 Binned");
    EXPECT_EQ(choice.dark->header.combined, 8);
    EXPECT_DOUBLE_EQ(choice.dark->header.exposureSeconds, 30);
    EXPECT_EQ(choice.dark->header.dateObs, "2026-12-08T01:02:03");
    EXPECT_EQ(choice.dark->picture.values, dark.picture.values);

    // A dark of another size, or one that cannot be read, is passed over with a reason.
    const DarkLibrary::Choice small = library.find("2x1 Binned", 30000, 320, 240);
    EXPECT_FALSE(small.dark);
    EXPECT_TRUE(small.problem.contains(QStringLiteral("640 x 480"))) << small.problem.toStdString();
    make("darks/dark-Hi-res-60000ms.fits", "not a FITS file");
    const DarkLibrary::Choice broken = library.find("Hi-res", 60000, 640, 480);
    EXPECT_FALSE(broken.dark);
    EXPECT_TRUE(broken.problem.contains(QStringLiteral("cannot be read")));

    // Flats by mode alone, passed over the same way.
    EXPECT_EQ(library.saveFlat({FloatPicture(640, 480, 1), {2, "2x1 Binned", 9, "", "Flat Field"}})
                  .filename(),
              "flat-2x1-Binned.fits");
    EXPECT_TRUE(library.findFlat("2x1 Binned", 640, 480).dark);
    EXPECT_FALSE(library.findFlat("Hi-res", 640, 480).dark);
    const DarkLibrary::Choice smallFlat = library.findFlat("2x1 Binned", 320, 240);
    EXPECT_FALSE(smallFlat.dark);
    EXPECT_TRUE(smallFlat.problem.contains(QStringLiteral("flat-2x1-Binned.fits is 640 x 480")))
        << smallFlat.problem.toStdString();
}

// FITS stores the bottom line first (pixel 1, 1 at the bottom left, where Siril and DS9 show it);
// the darks users kept from before ROWORDER was written have the top line first and no
// ROWORDER, and must still come out the right way round. The files are taken apart by hand
// here, as a viewer reads them, not through the program's reader.
TEST_F(DarkLibraryTest, DarksAreStoredBottomLineFirstAndOlderTopDownOnesReadTheRightWayRound) {
    const DarkLibrary library(dir / "darks");
    FitsPicture dark{FloatPicture(8, 6), {1, "Hi-res", 3, "2026-12-08T01:02:03"}};
    for (std::size_t i = 0; i < dark.picture.values.size(); ++i) {
        dark.picture.values[i] = float(i); // every value its own: any turn or swap shows
    }
    const std::string written = read(library.save(dark, 1000));
    constexpr std::size_t Card = 80;
    constexpr std::size_t Block = 2880;
    std::size_t end = 0;
    while (written.compare(end, 4, "END ") != 0) {
        end += Card;
        ASSERT_LT(end, written.size()) << "no END card";
    }
    const std::size_t data = (end / Block + 1) * Block;
    const std::size_t roworder = written.find("ROWORDER= 'BOTTOM-UP'");
    ASSERT_LT(roworder, end) << written.substr(0, end);
    ASSERT_EQ(roworder % Card, 0U);
    // The first value stored: red of the bottom left pixel, big-endian.
    std::uint32_t bits = 0;
    for (std::size_t b = 0; b < 4; ++b) {
        bits = bits << 8U | std::uint8_t(written[data + b]);
    }
    float first = 0;
    std::memcpy(&first, &bits, sizeof first);
    EXPECT_EQ(first, dark.picture.row(5)[0]);

    struct Case {
        const char* name;
        std::string card; // in the place of ROWORDER
        bool topLineFirst;
    };
    const std::size_t line = sizeof(float) * 8;
    for (const Case& c : std::vector<Case>{
             {"as written", written.substr(roworder, Card), false},
             {"written before ROWORDER", std::string(Card, ' '), true},
             {"TOP-DOWN", "ROWORDER= 'TOP-DOWN'", true},
         }) {
        SCOPED_TRACE(c.name);
        std::string file = written;
        file.replace(roworder, Card, c.card + std::string(Card - c.card.size(), ' '));
        for (std::size_t plane = 0; c.topLineFirst && plane < 3; ++plane) {
            for (std::size_t y = 0; y < 3; ++y) {
                std::swap_ranges(file.begin() + long(data + (plane * 6 + y) * line),
                                 file.begin() + long(data + (plane * 6 + y + 1) * line),
                                 file.begin() + long(data + (plane * 6 + 5 - y) * line));
            }
        }
        make("darks/dark-Hi-res-1000ms.fits", file);
        const DarkLibrary::Choice choice = library.find("Hi-res", 1000, 8, 6);
        ASSERT_TRUE(choice.dark) << choice.problem.toStdString();
        EXPECT_EQ(choice.dark->picture.values, dark.picture.values);
    }
}
