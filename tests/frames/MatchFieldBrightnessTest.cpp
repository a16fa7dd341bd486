// Brightness matching of the second hi-res field ("temp2.bmp") to the first ("temp.bmp").
#include "frames/FrameSteps.h"
#include "support/FrameFixtures.h"
#include "support/RecordingMessages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace lumenvale {
namespace {

using test::FixturePixel;
using test::MakeFrameBytes;
using test::PixelRule;
using test::ReadBytes;
using test::StoredRow;
using test::WriteBytes;

using Bytes = std::vector<std::uint8_t>;

bool IsSampledRow(int r) {
    return r % 11 == 0 && r <= 253;
}

// Sampled rows at `level`; every other row runs through all byte values, so the scaling of
// each value shows.
PixelRule SampledAt(std::uint8_t level) {
    return [level](int x, int r) -> FixturePixel {
        if (IsSampledRow(r)) {
            return {level, level, level};
        }
        const auto v = static_cast<std::uint8_t>(3 * x + r);
        return {v, static_cast<std::uint8_t>(v + 1), static_cast<std::uint8_t>(v + 2)};
    };
}

// v x first / second rounded to nearest with halves to even, in exact integer arithmetic.
std::uint8_t ScaledExactly(std::uint8_t v, unsigned first, unsigned second) {
    const unsigned n = v * first;
    unsigned q = n / second;
    const unsigned twiceRest = 2 * (n % second);
    if (twiceRest > second || (twiceRest == second && q % 2 == 1)) {
        ++q;
    }
    return static_cast<std::uint8_t>(q);
}

Bytes ScaledEvenRows(Bytes field, unsigned first, unsigned second) {
    for (int r = 0; r <= 476; r += 2) {
        for (auto& b : StoredRow(std::span<std::uint8_t>(field), r)) {
            b = ScaledExactly(b, first, second);
        }
    }
    return field;
}

class MatchFieldBrightnessTest : public ::testing::Test {
protected:
    void Put(const Bytes& first, const Bytes& second) {
        WriteBytes(dir / TempFile, first);
        WriteBytes(dir / Temp2File, second);
    }

    test::ScratchDir dir;
    test::RecordingMessages messages;
};

struct Levels {
    std::uint8_t first; // of the sampled rows of each field
    std::uint8_t second;
    int firstHeader = 40; // 124: pixel data at offset 138 instead of 54
};

class MatchRatioTest : public MatchFieldBrightnessTest,
                       public ::testing::WithParamInterface<Levels> {};

TEST_P(MatchRatioTest, EvenRowsUpTo476OfTheSecondFieldAreScaledByTheSampledRatio) {
    const auto [firstLevel, secondLevel, firstHeader] = GetParam();
    const Bytes first = MakeFrameBytes(SampledAt(firstLevel), firstHeader);
    const Bytes second = MakeFrameBytes(SampledAt(secondLevel));
    Put(first, second);

    MatchFieldBrightness(dir.path(), messages);

    // Only ever darkened: a darker second field, and one whose sample is black (no ratio can
    // be taken), stay as they were.
    const Bytes expected =
        firstLevel >= secondLevel ? second : ScaledEvenRows(second, firstLevel, secondLevel);
    EXPECT_TRUE(ReadBytes(dir / Temp2File) == expected);
    EXPECT_TRUE(ReadBytes(dir / TempFile) == first);
    EXPECT_EQ(messages.beeps, 1);
}

INSTANTIATE_TEST_SUITE_P(Ratios, MatchRatioTest,
                         ::testing::Values(Levels{100, 100},       // equal fields
                                           Levels{100, 200},       // 0.5
                                           Levels{60, 240},        // 0.25
                                           Levels{150, 200},       // 0.75
                                           Levels{80, 240},        // 1/3
                                           Levels{1, 255},         // nearly black
                                           Levels{200, 100},       // darker second field
                                           Levels{255, 254},       // barely darker
                                           Levels{90, 0},          // black second sample
                                           Levels{0, 0},           // both samples black
                                           Levels{0, 90},          // black first sample
                                           Levels{100, 200, 124}), // headers of different sizes
                         [](const auto& info) {
                             return "first" + std::to_string(info.param.first) + "second" +
                                    std::to_string(info.param.second) + "header" +
                                    std::to_string(info.param.firstHeader);
                         });

// The values as a user would check them after halving: 5 -> 2, 7 -> 4, 255 -> 128.
TEST_F(MatchFieldBrightnessTest, HalvingRoundsHalvesToEven) {
    const Bytes second = MakeFrameBytes(SampledAt(200));
    Put(MakeFrameBytes(SampledAt(100)), second);

    MatchFieldBrightness(dir.path(), messages);

    const Bytes result = ReadBytes(dir / Temp2File);
    const auto before = StoredRow(std::span<const std::uint8_t>(second), 2);
    const auto after = StoredRow(std::span<const std::uint8_t>(result), 2);
    for (const auto& [from, to] : {std::pair{5, 2}, {7, 4}, {255, 128}}) {
        const auto at = static_cast<std::size_t>(std::ranges::find(before, from) - before.begin());
        ASSERT_LT(at, before.size());
        EXPECT_EQ(after[at], to) << "from " << from;
    }
}

// Rows 0, 11, ..., 253 are sampled; a bright spot anywhere else must not change the ratio.
class SampledRowsTest : public MatchFieldBrightnessTest,
                        public ::testing::WithParamInterface<int> {};

TEST_P(SampledRowsTest, OnlySampledRowsDecideTheRatio) {
    const int brightRow = GetParam();
    const Bytes first = MakeFrameBytes(test::Uniform(100));
    const Bytes second = MakeFrameBytes([brightRow](int, int r) -> FixturePixel {
        const std::uint8_t v = r == brightRow ? 250 : 100;
        return {v, v, v};
    });
    Put(first, second);

    MatchFieldBrightness(dir.path(), messages);

    const bool changed = ReadBytes(dir / Temp2File) != second;
    EXPECT_EQ(changed, IsSampledRow(brightRow)) << "bright row " << brightRow;
}

INSTANTIATE_TEST_SUITE_P(Rows, SampledRowsTest,
                         ::testing::Values(0, 11, 22, 242, 253, 1, 10, 12, 20, 40, 254, 264, 477,
                                           479));

} // namespace
} // namespace lumenvale
