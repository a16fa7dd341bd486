// Weaving the second field's rows into the odd rows of "temp.bmp".
#include "frames/FrameSteps.h"
#include "support/FrameFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace lumenvale {
namespace {

using test::DistinctRows;
using test::MakeFrameBytes;
using test::ReadBytes;
using test::StoredRow;
using test::WriteBytes;

using Bytes = std::vector<std::uint8_t>;
using ConstRow = std::span<const std::uint8_t>;

bool SameRow(ConstRow a, ConstRow b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// Stored rows 3, 5, ..., 479 of the base become the source's rows 2, 4, ..., 478.
Bytes Interleaved(Bytes base, const Bytes& source) {
    for (int r = 3; r <= 479; r += 2) {
        std::ranges::copy(StoredRow(ConstRow(source), r - 1),
                          StoredRow(std::span<std::uint8_t>(base), r).begin());
    }
    return base;
}

struct Headers {
    int base;
    int source;
};

class InterleaveFieldsTest : public ::testing::TestWithParam<Headers> {
protected:
    test::ScratchDir dir;
};

TEST_P(InterleaveFieldsTest, OddRowsFrom3ComeFromTheSourceRowBelow) {
    const Bytes base = MakeFrameBytes(DistinctRows(1), GetParam().base);
    const Bytes source = MakeFrameBytes(DistinctRows(2), GetParam().source);
    WriteBytes(dir / TempFile, base);
    WriteBytes(dir / Temp2File, source);

    InterleaveFields(dir.path());

    const Bytes result = ReadBytes(dir / TempFile);
    ASSERT_EQ(result.size(), base.size());
    EXPECT_TRUE(result == Interleaved(base, source));
    EXPECT_TRUE(ReadBytes(dir / Temp2File) == source);

    // Rows 0, 1 and 2 are the base's own; row 1 is never written.
    for (int r : {0, 1, 2, 4, 478}) {
        EXPECT_TRUE(SameRow(StoredRow(ConstRow(result), r), StoredRow(ConstRow(base), r))) << r;
    }
    EXPECT_TRUE(SameRow(StoredRow(ConstRow(result), 479), StoredRow(ConstRow(source), 478)));
    // The last byte written is the last byte of the file.
    EXPECT_EQ(result.back(), StoredRow(ConstRow(source), 478).back());
    EXPECT_NE(result.back(), base.back());
}

INSTANTIATE_TEST_SUITE_P(InfoHeaders, InterleaveFieldsTest,
                         ::testing::Values(Headers{40, 40}, Headers{124, 124}, Headers{40, 124},
                                           Headers{124, 40}),
                         [](const auto& info) {
                             return "base" + std::to_string(info.param.base) + "source" +
                                    std::to_string(info.param.source);
                         });

TEST(InterleaveFields, IdenticalFieldsRepeatEachEvenRowAbove) {
    test::ScratchDir dir;
    const Bytes field = MakeFrameBytes(DistinctRows(5));
    WriteBytes(dir / TempFile, field);
    WriteBytes(dir / Temp2File, field);

    InterleaveFields(dir.path());

    const Bytes result = ReadBytes(dir / TempFile);
    for (int r = 3; r <= 479; r += 2) {
        ASSERT_TRUE(SameRow(StoredRow(ConstRow(result), r), StoredRow(ConstRow(field), r - 1)));
    }
    EXPECT_TRUE(SameRow(StoredRow(ConstRow(result), 1), StoredRow(ConstRow(field), 1)));
}

} // namespace
} // namespace lumenvale
