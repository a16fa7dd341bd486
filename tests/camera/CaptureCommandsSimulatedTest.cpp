// Whole runs on the simulated camera: the lines drive its exposure, the acquisition dialog is
// confirmed by the readout timer's Return, and the saved frames carry the processing.
#include "CaptureRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <vector>

namespace lumenvale::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

double RowMean(const Bytes& frame, int row) {
    const auto bytes = StoredRow(frame, row);
    return std::accumulate(bytes.begin(), bytes.end(), 0.0) / static_cast<double>(bytes.size());
}

// Mean of the absolute byte differences between two stored rows.
double RowDistance(const Bytes& frame, int a, int b) {
    const auto x = StoredRow(frame, a);
    const auto y = StoredRow(frame, b);
    double sum = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sum += std::abs(static_cast<int>(x[i]) - static_cast<int>(y[i]));
    }
    return sum / static_cast<double>(x.size());
}

// Stars are small bright spots on a darker sky.
void ExpectStars(const Bytes& frame, const char* what) {
    const auto pixels = std::span(frame).subspan(PixelDataOffset(frame));
    const auto brightest = *std::max_element(pixels.begin(), pixels.end());
    const double mean =
        std::accumulate(pixels.begin(), pixels.end(), 0.0) / static_cast<double>(pixels.size());
    EXPECT_GT(brightest, mean + 80) << what;
}

TEST(SimulatedCameraRunTest, BinnedAndHiresFramesAreSavedProcessed) {
    CaptureRig rig(CaptureRig::Camera::Simulated);
    // Long enough for the sky to stand clear of the dark rows, short enough for the suite.
    rig.panel.text2 = QStringLiteral("0.5");
    rig.panel.text3 = QStringLiteral("2");
    rig.panel.check5 = 1;

    rig.commands.binned();
    ASSERT_TRUE(rig.services.messages.texts.isEmpty())
        << rig.services.messages.texts.join('|').toStdString();
    EXPECT_EQ(rig.viewer.shown.size(), 2U);

    // The raw readout holds the picture in its even rows only; the saved frames are doubled.
    const Bytes raw = rig.bytes("frame0x37.bmp");
    EXPECT_GT(RowMean(raw, 100), RowMean(raw, 101) + 2);
    ExpectStars(raw, "raw binned readout");
    for (const char* name : {"image001.bmp", "image002.bmp"}) {
        const Bytes saved = ReadBytes(rig.saved(name));
        ASSERT_GT(saved.size(), FixturePixelBytes) << name;
        for (int row = 0; row < 478; row += 2) {
            ASSERT_TRUE(std::ranges::equal(StoredRow(saved, row), StoredRow(saved, row + 1)))
                << name << " row " << row;
        }
        ExpectStars(saved, name);
    }

    rig.panel.text3 = QStringLiteral("1");
    rig.panel.text4 = QStringLiteral("hires");
    rig.commands.hires();
    ASSERT_TRUE(rig.services.messages.texts.isEmpty())
        << rig.services.messages.texts.join('|').toStdString();

    // Each field alone has dark odd rows; woven, the picture runs on from row to row.
    const Bytes first = rig.bytes("hires0x35.bmp");
    const Bytes second = rig.bytes("hires0x37.bmp");
    EXPECT_GT(RowMean(first, 200), RowMean(first, 201) + 2);
    EXPECT_GT(RowMean(second, 200), RowMean(second, 201) + 2);
    const Bytes woven = ReadBytes(rig.saved("hires001.bmp"));
    ASSERT_GT(woven.size(), FixturePixelBytes);
    double wovenSteps = 0;
    double fieldSteps = 0;
    for (int row = 2; row < 478; ++row) {
        wovenSteps += RowDistance(woven, row, row + 1);
        fieldSteps += RowDistance(first, row, row + 1);
    }
    EXPECT_LT(wovenSteps, fieldSteps * 0.75) << "no dark rows left between the lines";
    for (int row = 3; row < 478; row += 2) {
        ASSERT_GT(RowMean(woven, row), RowMean(woven, row - 1) * 0.6) << row;
    }
    ExpectStars(woven, "woven frame");
    EXPECT_EQ(rig.state.CaptureBusy, 0);
}

} // namespace
} // namespace lumenvale::test
