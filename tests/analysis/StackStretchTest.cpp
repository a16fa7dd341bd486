// The stack's histogram and the black and white points the user drags on it: the counts of a
// known picture, where a dragged point lands (inside the histogram, black below white) and
// what the stretch then makes of the picture's values.
#include "analysis/StackStretch.h"
#include "analysis/MidtonesStretch.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

using namespace lumenvale;

namespace {

TEST(StackStretchTest, HistogramPointsAndTheStretchTheyMake) {
    // Grey pixels 0, 50, 100, 200 and one no frame covered. The automatic midtones balance of
    // this picture is 0.5, so the stretch between the points is a straight line.
    constexpr std::array<float, 5> Grey{0, 50, 100, 200, NAN};
    FloatPicture picture(int(Grey.size()), 1);
    for (std::size_t i = 0; i < picture.values.size(); ++i) {
        picture.values[i] = Grey[i / 3];
    }
    const StackStretch::Histogram histogram = StackStretch::HistogramOf(picture);
    EXPECT_DOUBLE_EQ(histogram.low, 0);
    EXPECT_DOUBLE_EQ(histogram.high, 200);
    ASSERT_EQ(histogram.counts.size(), std::size_t(StackStretch::Histogram::Bins));
    for (std::size_t bin = 0; bin < histogram.counts.size(); ++bin) {
        const bool filled = bin == 0 || bin == 64 || bin == 128 || bin == 255;
        EXPECT_EQ(histogram.counts[bin], filled ? 1 : 0) << "bin " << bin;
    }

    constexpr double Bin = 200.0 / StackStretch::Histogram::Bins;
    struct Row {
        const char* what = "";
        StackStretch::Points from;
        bool black = true;
        double level = 0;
        StackStretch::Points points;
        std::array<int, 4> shown{}; // of grey 0, 50, 100, 200
    };
    const Row rows[] = {
        {"black up to the sky", {0, 200}, true, 50, {50, 200}, {0, 0, 85, 255}},
        {"white down to the faint stars", {0, 200}, false, 100, {0, 100}, {0, 128, 255, 255}},
        {"black past white pushes white", {0, 100}, true, 150, {150, 150 + Bin}, {0, 0, 0, 255}},
        {"white past black pushes black", {50, 200}, false, 20, {20 - Bin, 20}, {0, 255, 255, 255}},
        {"black beyond the histogram", {0, 200}, true, 300, {200 - Bin, 200}, {0, 0, 0, 255}},
        {"white below the histogram", {0, 200}, false, -10, {0, Bin}, {0, 255, 255, 255}},
        {"black below the histogram", {50, 200}, true, -50, {0, 200}, {0, 64, 128, 255}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const StackStretch::Points points = histogram.moved(row.from, row.black, row.level);
        EXPECT_DOUBLE_EQ(points.black, row.points.black);
        EXPECT_DOUBLE_EQ(points.white, row.points.white);
        StackStretch stretch;
        stretch.setPoints(points);
        const QImage shown = MidtonesStretch::apply(picture, stretch.levels(picture));
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(shown.pixelColor(x, 0).green(), row.shown[std::size_t(x)])
                << "grey " << Grey[std::size_t(x)];
        }
    }
}

} // namespace
