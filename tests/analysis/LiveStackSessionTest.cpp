// The Live stack window's work without the window: a run of darks becomes the master dark the
// lights of its mode and exposure take, a light without one says so, and saving the stack
// writes its files or says why not, the stack going on either way; a run of flats evens a
// vignetted sky with a dust ring.
#include "support/StarFields.h"
#include "support/TempDirTest.h"

#include "analysis/FitsPicture.h"
#include "analysis/LiveStackSession.h"

#include <QRegularExpression>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

using namespace lumenvale;
using namespace lumenvale::test;

namespace {

class LiveStackSessionTest : public TempDirTest {
protected:
    static LiveStackSession::Frame Frame(const FloatPicture& picture, std::int32_t exposureMs) {
        return {PictureOf(picture), "2x1 Binned", exposureMs,
                QDateTime(QDate(2026, 12, 8), QTime(1, 0), QTimeZone::utc())};
    }
    static QString Lines(const LiveStackSession::View& view) {
        return view.lines.join(QLatin1Char('|'));
    }
    LiveStackSession session{dir};
    std::vector<FieldStar> stars = RandomStars(45);
};

TEST_F(LiveStackSessionTest, DarksLightsAndSaving) {
    session.startRun(true, false);
    for (std::uint32_t i = 0; i < 5; ++i) {
        session.addFrame(Frame(StarField({}, {}, 12, 2, 10 + i), 30000));
    }
    const LiveStackSession::View darks = session.endRun();
    EXPECT_TRUE(Lines(darks).contains(QStringLiteral("Master dark of 5 frames saved")))
        << Lines(darks).toStdString();
    const FitsPicture master = FitsPicture::read(dir / "darks" / "dark-2x1-Binned-30000ms.fits");
    EXPECT_EQ(master.header.combined, 5);
    EXPECT_DOUBLE_EQ(master.header.exposureSeconds, 30);

    session.startRun(false, false);
    LiveStackSession::View view = session.addFrame(Frame(StarField(stars, {}, 40, 2, 1), 30000));
    EXPECT_TRUE(view.figures.contains(QStringLiteral("dark: dark-2x1-Binned-30000ms.fits")))
        << view.figures.toStdString();
    EXPECT_FALSE(view.stack.isNull());
    // Another exposure: no dark, said once, and the frame (the same sky, without the dark's
    // bias) is still stacked.
    view = session.addFrame(Frame(StarField(stars, {2, 1}, 28, 2, 2), 45000));
    EXPECT_EQ(Lines(view), QStringLiteral("no dark for 2x1 Binned 45 s"));
    EXPECT_TRUE(view.figures.startsWith(QStringLiteral("2 stacked, 0 rejected, 75 s")))
        << view.figures.toStdString();
    view = session.addFrame(Frame(StarField({}, {}, 90, 3, 3), 45000));
    EXPECT_TRUE(Lines(view).contains(QStringLiteral("frame 3 refused: 0 stars matched")))
        << Lines(view).toStdString();

    view = session.save((dir / "gone").string(), QStringLiteral("image"));
    EXPECT_TRUE(Lines(view).contains(QStringLiteral("The stack was not saved")));
    // The PNG is the stack as the window shows it, with the user's black and white points.
    const QImage shown = session.setStretchPoints(StackStretch::Points{35, 60}).stack;
    view = session.save(dir.string(), QStringLiteral("image"));
    EXPECT_TRUE(Lines(view).contains(QStringLiteral("Stack of 2 frames saved")));
    EXPECT_EQ(QImage(QString::fromStdString((dir / "image-stack.png").string()))
                  .convertToFormat(QImage::Format_RGB888),
              shown);
    const FitsPicture stack = FitsPicture::read(dir / "image-stack.fits");
    EXPECT_FLOAT_EQ(stack.picture.values[1000], session.stack().mean().values[1000] / 255)
        << "grey levels as 0 to 1";
    EXPECT_EQ(stack.header.combined, 2);
    EXPECT_DOUBLE_EQ(stack.header.exposureSeconds, 75);
    EXPECT_EQ(stack.header.dateObs, "2026-12-08T00:59:30.000Z");

    // "Continue" keeps the stack into the next run; a new run without it starts afresh.
    EXPECT_TRUE(session.startRun(false, true).figures.startsWith(QStringLiteral("2 stacked")));
    EXPECT_TRUE(session.startRun(false, false).figures.startsWith(QStringLiteral("0 stacked")));
}

// A run with every fault a night brings, against the first frame with enough stars: each bad
// frame is refused for its own fault, with its figures, and leaves the counts and the saved
// stack's frames and exposure.
TEST_F(LiveStackSessionTest, TheQualityGateRefusesEachFaultyFrameForItsFault) {
    struct Row {
        const char* what;
        std::vector<FieldStar> stars;
        FieldView view;
        double sky;
        const char* line; // the log's line: empty for a frame stacked
    };
    const std::vector<FieldStar> few(stars.begin(), stars.begin() + 3);
    const Row rows[] = {
        // The third is too near the edge to be measured.
        {"too few stars to be the reference",
         few,
         {},
         30,
         "frame 1 refused: 2 stars found, 6 needed to be the reference"},
        {"good: the reference", stars, {}, 30, ""},
        {"good", stars, {3, -2, 0.3}, 30, ""},
        {"thin cloud", stars, {1, 1, 0, 1, 0.2}, 30, "frame 4 refused: star flux 2"},
        {"trailed", stars, {2, 0, 0, 1, 1, 3, 1}, 30, "frame 5 refused: stars elongated 2."},
        {"out of focus", stars, {-1, 2, 0, 1, 1, 2, 2}, 30, "frame 6 refused: star size "},
        {"a passing light", stars, {0, 1}, 70, "frame 7 refused: background 70"},
        {"good after them", stars, {-2, -1, -0.2}, 30, ""},
    };
    session.startRun(false, false);
    std::uint32_t seed = 20;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const LiveStackSession::View view =
            session.addFrame(Frame(StarField(row.stars, row.view, row.sky, 2, ++seed), 30000));
        const QString lines = Lines(view);
        if (*row.line == 0) {
            EXPECT_FALSE(lines.contains(QStringLiteral("refused"))) << lines.toStdString();
            EXPECT_TRUE(view.figures.contains(
                QRegularExpression(QStringLiteral("matched, flux (9[5-9]|10[0-5]) %"))))
                << view.figures.toStdString();
        } else {
            EXPECT_TRUE(lines.contains(QString::fromLatin1(row.line))) << lines.toStdString();
        }
    }
    const LiveStackSession::View view = session.save(dir.string(), QStringLiteral("gate"));
    EXPECT_TRUE(view.figures.startsWith(QStringLiteral("3 stacked, 5 rejected, 90 s")))
        << view.figures.toStdString();
    const FitsPicture stack = FitsPicture::read(dir / "gate-stack.fits");
    EXPECT_EQ(stack.header.combined, 3);
    EXPECT_DOUBLE_EQ(stack.header.exposureSeconds, 90);
}

// The share of the light that reaches each pixel: the telescope's vignetting, the corners 30 %
// darker, and a dust ring on the sensor's window 10 % deep.
double Vignetting(int x, int y) {
    const double r2 =
        (std::pow(x - 319.5, 2) + std::pow(y - 239.5, 2)) / (319.5 * 319.5 + 239.5 * 239.5);
    const double ring = std::hypot(x - 200.0, y - 150.0) - 30;
    return (1 - 0.3 * r2) * (1 - 0.1 * std::exp(-ring * ring / 18));
}

// The noiseless `sky` as the sensor records it: through the telescope, on the dark current's
// 10 grey levels, with the noise of 2 grey levels.
FloatPicture Seen(FloatPicture sky, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0, 2);
    for (int y = 0; y < sky.height; ++y) {
        for (int x = 0; x < sky.width * 3; ++x) {
            sky.row(y)[x] = float(sky.row(y)[x] * Vignetting(x / 3, y) + 10 + noise(random));
        }
    }
    return sky;
}

TEST_F(LiveStackSessionTest, AFlatRunEvensAVignettedSkyWithADustRing) {
    // Darks for the lights only: the flats take the shortest as their bias.
    session.startRun(true, false);
    for (std::uint32_t i = 0; i < 5; ++i) {
        session.addFrame(Frame(StarField({}, {}, 10, 1, 10 + i), 30000));
    }
    session.endRun();
    session.startFlatRun();
    for (std::uint32_t i = 0; i < 9; ++i) {
        session.addFrame(Frame(Seen(StarField({}, {}, 170, 0), 20 + i), 2000));
    }
    const QString flatLines = Lines(session.endRun());
    EXPECT_TRUE(flatLines.contains(QStringLiteral("dark-2x1-Binned-30000ms.fits, taken off")) &&
                flatLines.contains(QStringLiteral("Master flat of 9 frames saved")))
        << flatLines.toStdString();
    const FitsPicture flat = FitsPicture::read(dir / "darks" / "flat-2x1-Binned.fits");
    EXPECT_EQ(flat.header.combined, 9);
    EXPECT_EQ(flat.header.readMode, "2x1 Binned");

    session.startRun(false, false);
    LiveStackSession::View view;
    for (int i = 0; i < 8; ++i) {
        view = session.addFrame(Frame(
            Seen(StarField(stars, {i * 1.5, -i * 1.0}, 40, 0), 30 + std::uint32_t(i)), 30000));
    }
    EXPECT_TRUE(view.figures.startsWith(QStringLiteral("8 stacked")) &&
                view.figures.contains(QStringLiteral("flat: flat-2x1-Binned.fits")))
        << view.figures.toStdString();

    // The sky of the stack away from the stars, the median of each 20 x 20 block, is even to
    // 1 %; before the flat its corners were 30 % darker.
    const FloatPicture& mean = session.stack().mean();
    std::vector<double> blocks;
    for (int by = 0; by < 480; by += 20) {
        for (int bx = 0; bx < 640; bx += 20) {
            std::vector<float> values;
            for (int y = by; y < by + 20; ++y) {
                for (int x = bx; x < bx + 20; ++x) {
                    const bool nearStar =
                        std::any_of(stars.begin(), stars.end(), [&](const FieldStar& s) {
                            return std::hypot(s.x - x, s.y - y) < 8;
                        });
                    if (!nearStar && !std::isnan(mean.row(y)[3 * x + 1])) {
                        values.push_back(mean.row(y)[3 * x + 1]);
                    }
                }
            }
            if (values.size() > 200) {
                const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
                std::nth_element(values.begin(), middle, values.end());
                blocks.push_back(*middle);
            }
        }
    }
    ASSERT_GT(blocks.size(), 700U);
    const auto middle = blocks.begin() + std::ptrdiff_t(blocks.size() / 2);
    std::nth_element(blocks.begin(), middle, blocks.end());
    const double sky = *middle;
    for (const double block : blocks) {
        EXPECT_NEAR(block / sky, 1, 0.01);
    }
}

} // namespace
