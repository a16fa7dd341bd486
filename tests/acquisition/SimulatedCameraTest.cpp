// The simulated camera as the capture commands drive it through the lines: what it reads out,
// how bright, with or without amplifier glow, and in which rows; its gain and brightness as its
// controls set them.
#include "acquisition/simulated/SimulatedCamera.h"
#include "acquisition/simulated/SimulatedControls.h"
#include "lines/LineMonitor.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace lumenvale;
using Readout = SimulatedCamera::Readout;

namespace {

constexpr std::uint8_t AmpOn = 0x34;
constexpr std::uint8_t AmpOff = 0x30;
constexpr std::uint8_t Readout37 = 0x37;
constexpr std::uint8_t Readout35 = 0x35;

struct Write {
    std::int32_t tick;
    std::uint8_t state;
};

void publish(LineMonitor& lines, const std::vector<Write>& writes) {
    for (const Write& w : writes) {
        lines.publish({w.tick, w.state});
    }
}

// One frame as the capture commands write it: frame start, settle, exposure state at t + 100,
// readout state `exposureMs` later.
std::vector<Write> frame(std::int32_t t, std::int32_t exposureMs, std::uint8_t exposureState,
                         std::uint8_t readout) {
    const std::int32_t start = TickAdd(t, 100);
    return {{t, 0x27},
            {t, 0x37},
            {start, 0x14},
            {start, 0x34},
            {start, exposureState},
            {TickAdd(start, exposureMs), readout}};
}

// Rows [firstRow, lastRow) of one parity, columns [x0, x1): mean of all colour values, leaving
// out the positions where `mask` (or the frame itself) is saturated.
struct Region {
    int parity = 0;
    int firstRow = 0;
    int lastRow = AcquiredFrame::Height;
    int x0 = 0;
    int x1 = AcquiredFrame::Width;
};

double mean(const AcquiredFrame& f, const Region& r, const AcquiredFrame* mask = nullptr) {
    double sum = 0;
    long count = 0;
    for (int row = r.firstRow; row < r.lastRow; ++row) {
        if (row % 2 != r.parity) {
            continue;
        }
        for (int i = 3 * r.x0; i < 3 * r.x1; ++i) {
            const std::uint8_t v = f.storedRow(row)[i];
            if (v >= 250 || (mask != nullptr && mask->storedRow(row)[i] >= 250)) {
                continue;
            }
            sum += v;
            ++count;
        }
    }
    return count == 0 ? 0 : sum / double(count);
}

// The spread of the colour values of rows [firstRow, lastRow) of one parity about their mean.
double deviation(const AcquiredFrame& f, const Region& r) {
    const double m = mean(f, r);
    double sum = 0;
    long count = 0;
    for (int row = r.firstRow + (r.firstRow + r.parity) % 2; row < r.lastRow; row += 2) {
        for (int i = 3 * r.x0; i < 3 * r.x1; ++i) {
            sum += (f.storedRow(row)[i] - m) * (f.storedRow(row)[i] - m);
            ++count;
        }
    }
    return std::sqrt(sum / double(count));
}

// Light above the black level, read off the dark odd rows of a field or binned readout.
double signal(const AcquiredFrame& f, const AcquiredFrame* mask = nullptr) {
    return mean(f, {0}, mask) - mean(f, {1}, mask);
}

// How unlike row `a` of `f` is to row `b` of `g`.
double rowDistance(const AcquiredFrame& f, int a, const AcquiredFrame& g, int b) {
    double d = 0;
    for (std::size_t i = 0; i < AcquiredFrame::RowBytes; ++i) {
        const double diff = double(f.storedRow(a)[i]) - double(g.storedRow(b)[i]);
        d += diff * diff;
    }
    return d;
}

struct SimulatedCameraTest : ::testing::Test {
    LineMonitor lines;
    SimulatedCamera camera{lines};

    AcquiredFrame expose(std::int32_t t, std::int32_t ms, std::uint8_t state, std::uint8_t out) {
        publish(lines, frame(t, ms, state, out));
        return camera.readOut();
    }
};

} // namespace

TEST_F(SimulatedCameraTest, ReadoutFollowsTheLineHistory) {
    constexpr std::int32_t Max = std::numeric_limits<std::int32_t>::max();
    struct Case {
        const char* what;
        std::vector<Write> writes;
        Readout readout;
        std::int32_t exposureMs;
        bool glow;
    };
    auto plus = [](std::vector<Write> a, std::vector<Write> b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::int32_t Short = SimulatedCamera::ShortExposureMs;
    const std::vector<Case> cases = {
        {"binned, amp on", frame(0, 1000, AmpOn, Readout37), Readout::Binned, 1000, true},
        {"binned, amp off", frame(0, 500, AmpOff, Readout37), Readout::Binned, 500, false},
        {"first hi-res field", frame(0, 1000, AmpOn, Readout35), Readout::FirstField, 1000, true},
        {"second hi-res field", plus(frame(0, 1000, AmpOff, Readout35), {{1300, Readout37}}),
         Readout::SecondField, 1000, false},
        {"focus: frame start only", {{0, 0x27}, {0, 0x37}}, Readout::Full, Short, true},
        {"nothing written yet", {}, Readout::Full, Short, true},
        {"exposure state without a frame start",
         {{0, AmpOn}, {500, Readout37}},
         Readout::Full,
         Short,
         true},
        {"readout repeated", plus(frame(0, 800, AmpOn, Readout37), {{1500, Readout37}}),
         Readout::Binned, 800, true},
        {"the next frame start ends the readout",
         plus(frame(0, 800, AmpOn, Readout37), {{1500, 0x27}}), Readout::Full, Short, true},
        {"idle state", plus(frame(0, 800, AmpOn, Readout37), {{1500, 0x00}}), Readout::Full, Short,
         true},
        {"the last exposure-state write starts the light",
         {{0, 0x27}, {0, 0x37}, {100, 0x14}, {100, AmpOn}, {300, AmpOff}, {800, Readout37}},
         Readout::Binned,
         500,
         false},
        {"across the 2^31 ms wrap", frame(Max - 150, 200, AmpOn, Readout37), Readout::Binned, 200,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LineMonitor fresh;
        SimulatedCamera cam(fresh);
        publish(fresh, c.writes);
        const auto pending = cam.pending();
        EXPECT_EQ(pending.readout, c.readout);
        EXPECT_EQ(pending.exposureMs, c.exposureMs);
        EXPECT_EQ(pending.ampGlow, c.glow);
    }
}

TEST_F(SimulatedCameraTest, BrightnessGrowsInProportionToTheExposure) {
    // With the amplifier on, its glow grows with the exposure too.
    std::int32_t t = 1000;
    for (const std::uint8_t state : {AmpOff, AmpOn}) {
        SCOPED_TRACE(int(state));
        const AcquiredFrame tenth = expose(t, 100, state, Readout37);
        const AcquiredFrame longer = expose(t + 4000, 400, state, Readout37);
        EXPECT_NEAR(signal(longer, &tenth) / signal(tenth, &longer), 4.0, 0.2);
        t += 8000;
    }
}

TEST_F(SimulatedCameraTest, AmplifierGlowsInTheTopLeftCornerUnlessAmpOff) {
    const Region topLeft{0, 400, 480, 0, 60};
    const Region topRight{0, 400, 480, 580, 640};
    const AcquiredFrame on = expose(1000, 2000, AmpOn, Readout37);
    const AcquiredFrame off = expose(5000, 2000, AmpOff, Readout37);
    EXPECT_GT(mean(on, topLeft) - mean(on, topRight), 60.0);
    EXPECT_LT(std::abs(mean(off, topLeft) - mean(off, topRight)), 8.0);
    // Away from the corner the two agree.
    const Region bottomRight{0, 0, 80, 560, 640};
    EXPECT_NEAR(mean(on, bottomRight), mean(off, bottomRight), 1.0);
}

TEST_F(SimulatedCameraTest, BinnedReadoutSumsLinePairsIntoTheEvenRowsAndLeavesOddRowsDark) {
    const AcquiredFrame binned = expose(1000, 3000, AmpOff, Readout37);
    const AcquiredFrame full = camera.render({Readout::Full, 3000, false});

    int brightestOdd = 0;
    for (int row = 1; row < AcquiredFrame::Height; row += 2) {
        for (std::size_t i = 0; i < AcquiredFrame::RowBytes; ++i) {
            brightestOdd = std::max<int>(brightestOdd, binned.storedRow(row)[i]);
        }
    }
    EXPECT_LT(brightestOdd, 25) << "odd rows carry no light";
    EXPECT_GT(mean(binned, {0}), mean(binned, {1}) + 20);

    // Two picture lines' light in each even row: twice a full frame's level.
    const double fullSignal =
        (mean(full, {0}, &binned) + mean(full, {1}, &binned)) / 2 - mean(binned, {1}, &binned);
    EXPECT_NEAR(signal(binned, &binned) / fullSignal, 2.0, 0.15);
}

TEST_F(SimulatedCameraTest, HiResFieldsCarryTheEvenThenTheOddPictureLines) {
    publish(lines, frame(1000, 2000, AmpOff, Readout35));
    const AcquiredFrame first = camera.readOut();
    publish(lines, {{3300, Readout37}});
    const AcquiredFrame second = camera.readOut();

    // Full frames with the light each field should carry.
    const AcquiredFrame full = camera.render({Readout::Full, 2000, false});
    const AcquiredFrame brighter = camera.render({Readout::Full, 2400, false});

    double firstRight = 0, firstWrong = 0, secondRight = 0, secondWrong = 0;
    for (int row = 0; row < AcquiredFrame::Height - 1; row += 2) {
        firstRight += rowDistance(first, row, full, row);
        firstWrong += rowDistance(first, row, full, row + 1);
        secondRight += rowDistance(second, row, brighter, row + 1);
        secondWrong += rowDistance(second, row, brighter, row);
    }
    EXPECT_LT(firstRight * 3, firstWrong) << "first field: stored row 2k is picture row 2k";
    EXPECT_LT(secondRight * 3, secondWrong) << "second field: stored row 2k is picture row 2k+1";

    EXPECT_LT(mean(first, {1}), 12.0);
    EXPECT_LT(mean(second, {1}), 12.0);
    EXPECT_NEAR(signal(second, &first) / signal(first, &second), SimulatedCamera::SecondFieldGain,
                0.06);
}

TEST_F(SimulatedCameraTest, FocusGrabIsAShortFullFrame) {
    publish(lines, {{0, 0x27}, {0, 0x37}});
    const AcquiredFrame focus = camera.readOut();
    EXPECT_NEAR(mean(focus, {0}), mean(focus, {1}), 0.5) << "every row carries light";
    const AcquiredFrame longer = expose(1000, 4000, AmpOff, Readout37);
    EXPECT_LT(mean(focus, {0}) + 5, mean(longer, {0}));
}

TEST_F(SimulatedCameraTest, TheSkyIsTheSameInEveryRunAndOnlyTheNoiseChanges) {
    LineMonitor otherLines;
    SimulatedCamera other(otherLines);
    const SimulatedCamera::Exposure exposure{Readout::Binned, 1500, true};
    const AcquiredFrame a = camera.render(exposure);
    EXPECT_EQ(a.pixels(), other.render(exposure).pixels());

    const AcquiredFrame b = camera.render(exposure);
    EXPECT_NE(a.pixels(), b.pixels());
    EXPECT_NEAR(mean(a, {0}), mean(b, {0}), 0.05);
}

TEST_F(SimulatedCameraTest, PreviewShowsTheSameSky) {
    const AcquiredFrame preview = camera.preview();
    const AcquiredFrame reference =
        camera.render({Readout::Full, SimulatedCamera::ShortExposureMs, true});
    double same = 0, shifted = 0;
    for (int row = 0; row + 1 < AcquiredFrame::Height; ++row) {
        same += rowDistance(preview, row, reference, row);
        shifted += rowDistance(preview, row, reference, row + 1);
    }
    EXPECT_LT(same * 1.5, shifted);
}

TEST_F(SimulatedCameraTest, GainMultipliesTheLightAndBrightnessMovesTheBlackLevel) {
    struct Case {
        int gain;
        int brightness;
        double black; // mean of the dark odd rows
        // The sky above the black level and the noise of the dark rows, against the defaults'.
        std::optional<double> times;
        bool whiteStaysWhite; // what the defaults saturate does not come out dark
    };
    const std::vector<Case> cases = {
        {0, 0, 10, 1.0, true},            // the defaults
        {33, 0, 10, 2.0, true},           // a third of the range doubles the light
        {67, 16, 26, 4.0, true},          // and the black level stays where it is
        {100, 32, 42, 8.0, true},         // the top: eight times
        {0, 64, 74, 1.0, true},           // brightness moves every pixel alike
        {100, 64, 74, 8.0, true},         // the stars beyond white stay white
        {0, -5, 5, 1.0, true},            // darker
        {0, -64, 0, std::nullopt, false}, // black clipped at 0, faint white turns grey
    };
    // A binned second without glow; the upper half of the picture, where the sky is faint
    // enough to stay below white eight times amplified.
    const SimulatedCamera::Exposure exposure{Readout::Binned, 1000, false};
    const Region sky{0, 240};
    const Region dark{1, 240};
    const AcquiredFrame plain = camera.render(exposure);
    SimulatedControlSet controls(camera);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "gain " << c.gain << ", brightness " << c.brightness);
        ASSERT_EQ(controls.set(V4L2_CID_GAIN, c.gain), std::nullopt);
        ASSERT_EQ(controls.set(V4L2_CID_BRIGHTNESS, c.brightness), std::nullopt);
        const AcquiredFrame f = camera.render(exposure);
        EXPECT_NEAR(mean(f, dark), c.black, 0.6);
        if (c.times) {
            const double light = (mean(f, sky, &plain) - mean(f, dark, &plain)) /
                                 (mean(plain, sky, &f) - mean(plain, dark, &f));
            EXPECT_NEAR(light / *c.times, 1.0, 0.04);
            EXPECT_NEAR(deviation(f, dark) / deviation(plain, dark) / *c.times, 1.0, 0.04);
        }
        // Clipped, not wrapped round: a value beyond white comes out white.
        int darkened = 0;
        for (int row = 0; row < AcquiredFrame::Height; ++row) {
            for (std::size_t i = 0; i < AcquiredFrame::RowBytes; ++i) {
                darkened += int(plain.storedRow(row)[i] == 255 && f.storedRow(row)[i] < 200);
            }
        }
        EXPECT_EQ(darkened == 0, c.whiteStaysWhite) << darkened;
    }
}

TEST_F(SimulatedCameraTest, ControlsListGainAndBrightnessAndRefuseWhatTheyDoNotTake) {
    // Compared as text: what a control is, its range and its value, in one line.
    const auto listed = [](const std::vector<CameraControl>& controls) {
        std::vector<std::string> lines;
        for (const CameraControl& c : controls) {
            std::ostringstream line;
            line << c.name.toStdString() << " " << c.id
                 << (c.kind == CameraControl::Kind::Integer ? " integer " : " other ") << c.minimum
                 << ".." << c.maximum << " step " << c.step << " default " << c.defaultValue
                 << " now " << c.value << (c.settable() && !c.inactive ? "" : " not settable");
            lines.push_back(line.str());
        }
        return lines;
    };
    const auto listing = [](std::int64_t gain, std::int64_t brightness) {
        return std::vector<std::string>{
            "Gain " + std::to_string(V4L2_CID_GAIN) + " integer 0..100 step 1 default 0 now " +
                std::to_string(gain),
            "Brightness " + std::to_string(V4L2_CID_BRIGHTNESS) +
                " integer -64..64 step 1 default 0 now " + std::to_string(brightness)};
    };
    struct Case {
        const char* what;
        std::uint32_t id;
        std::int64_t value;
        const char* refusal; // empty: taken
        std::int64_t gain;   // the values listed afterwards
        std::int64_t brightness;
    };
    const std::vector<Case> cases = {
        {"gain", V4L2_CID_GAIN, 50, "", 50, 0},
        {"gain at its top", V4L2_CID_GAIN, 100, "", 100, 0},
        {"gain above its range", V4L2_CID_GAIN, 101, "out of range (0 to 100)", 100, 0},
        {"gain below its range", V4L2_CID_GAIN, -1, "out of range (0 to 100)", 100, 0},
        {"gain beyond an int", V4L2_CID_GAIN, std::int64_t(1) << 32, "out of range (0 to 100)", 100,
         0},
        {"brightness at its bottom", V4L2_CID_BRIGHTNESS, -64, "", 100, -64},
        {"brightness above its range", V4L2_CID_BRIGHTNESS, 65, "out of range (-64 to 64)", 100,
         -64},
        {"a control it does not have", V4L2_CID_EXPOSURE_ABSOLUTE, 100,
         "the simulated camera has no such control", 100, -64},
        {"gain back to its default", V4L2_CID_GAIN, 0, "", 0, -64},
    };
    SimulatedControlSet controls(camera);
    EXPECT_EQ(listed(controls.controls()), listing(0, 0));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(controls.set(c.id, c.value).value_or(QString()).toStdString(), c.refusal);
        EXPECT_EQ(listed(controls.controls()), listing(c.gain, c.brightness));
        EXPECT_EQ(camera.gain(), c.gain);
        EXPECT_EQ(camera.brightness(), c.brightness);
    }
}
