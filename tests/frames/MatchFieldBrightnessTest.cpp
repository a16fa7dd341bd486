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

TEST_F(MatchFieldBrightnessTest, EqualFieldsStayAsTheyWere) {
    const Bytes field = MakeFrameBytes(test::DistinctRows(1));
    Put(field, field);

    MatchFieldBrightness(dir.path(), messages);

    EXPECT_TRUE(ReadBytes(dir / TempFile) == field);
    EXPECT_TRUE(ReadBytes(dir / Temp2File) == field);
    EXPECT_EQ(messages.beeps, 1);
}

TEST_F(MatchFieldBrightnessTest, TwiceAsBrightSecondFieldIsHalvedWithHalvesToEven) {
    const Bytes first = MakeFrameBytes(SampledAt(100));
    const Bytes second = MakeFrameBytes(SampledAt(200));
    Put(first, second);

    MatchFieldBrightness(dir.path(), messages);

    const Bytes result = ReadBytes(dir / Temp2File);
    EXPECT_TRUE(result == ScaledEvenRows(second, 1, 2));
    EXPECT_TRUE(ReadBytes(dir / TempFile) == first);
    EXPECT_EQ(messages.beeps, 1);

    // The values as a user would check them: 5 -> 2, 7 -> 4, 255 -> 128.
    const auto row = StoredRow(std::span<const std::uint8_t>(result), 2);
    const auto before = StoredRow(std::span<const std::uint8_t>(second), 2);
    for (std::size_t j = 0; j < row.size(); ++j) {
        if (before[j] == 5) {
            EXPECT_EQ(row[j], 2);
        } else if (before[j] == 7) {
            EXPECT_EQ(row[j], 4);
        } else if (before[j] == 255) {
            EXPECT_EQ(row[j], 128);
        }
    }
}

struct Levels {
    std::uint8_t first;
    std::uint8_t second;
};

class MatchRatioTest : public MatchFieldBrightnessTest,
                       public ::testing::WithParamInterface<Levels> {};

TEST_P(MatchRatioTest, EvenRowsUpTo476AreScaledByTheSampledRatio) {
    const auto [firstLevel, secondLevel] = GetParam();
    const Bytes second = MakeFrameBytes(SampledAt(secondLevel));
    Put(MakeFrameBytes(SampledAt(firstLevel)), second);

    MatchFieldBrightness(dir.path(), messages);

    const Bytes expected = firstLevel >= secondLevel
                               ? second // only ever darkened
                               : ScaledEvenRows(second, firstLevel, secondLevel);
    EXPECT_TRUE(ReadBytes(dir / Temp2File) == expected);
    EXPECT_EQ(messages.beeps, 1);
}

INSTANTIATE_TEST_SUITE_P(Ratios, MatchRatioTest,
                         ::testing::Values(Levels{60, 240},   // 0.25
                                           Levels{150, 200},  // 0.75
                                           Levels{80, 240},   // 1/3
                                           Levels{1, 255},    // nearly black
                                           Levels{200, 100},  // darker second field
                                           Levels{255, 254}), // barely darker
                         [](const auto& info) {
                             return "first" + std::to_string(info.param.first) + "second" +
                                    std::to_string(info.param.second);
                         });

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

TEST_F(MatchFieldBrightnessTest, BlackSampleOfTheSecondFieldLeavesItUnscaled) {
    const Bytes second = MakeFrameBytes(SampledAt(0));
    Put(MakeFrameBytes(SampledAt(90)), second);

    MatchFieldBrightness(dir.path(), messages);

    EXPECT_TRUE(ReadBytes(dir / Temp2File) == second);
    EXPECT_EQ(messages.beeps, 1);
}

TEST_F(MatchFieldBrightnessTest, BlackSampleOfTheFirstFieldBlackensTheScaledRows) {
    const Bytes second = MakeFrameBytes(SampledAt(90));
    Put(MakeFrameBytes(SampledAt(0)), second);

    MatchFieldBrightness(dir.path(), messages);

    const Bytes result = ReadBytes(dir / Temp2File);
    EXPECT_TRUE(result == ScaledEvenRows(second, 0, 1));
    const auto unscaled = StoredRow(std::span<const std::uint8_t>(result), 1);
    EXPECT_TRUE(std::ranges::any_of(unscaled, [](std::uint8_t b) { return b != 0; }));
}

TEST_F(MatchFieldBrightnessTest, FieldsWithDifferentHeadersAreComparedRowForRow) {
    const Bytes first = MakeFrameBytes(SampledAt(100), 124);
    const Bytes second = MakeFrameBytes(SampledAt(200), 40);
    Put(first, second);

    MatchFieldBrightness(dir.path(), messages);

    EXPECT_TRUE(ReadBytes(dir / Temp2File) == ScaledEvenRows(second, 1, 2));
    EXPECT_TRUE(ReadBytes(dir / TempFile) == first);
}

} // namespace
} // namespace lumenvale
