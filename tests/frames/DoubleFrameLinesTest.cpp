// Line doubling of a binned frame in "temp.bmp".
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

bool SameRow(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// What doubling must give, stated on whole rows: odd rows 1..477 copy the row below.
Bytes Doubled(Bytes frame) {
    for (int k = 0; k <= 238; ++k) {
        const auto lower = StoredRow(std::span<const std::uint8_t>(frame), 2 * k);
        const Bytes copy(lower.begin(), lower.end());
        std::ranges::copy(copy, StoredRow(std::span<std::uint8_t>(frame), 2 * k + 1).begin());
    }
    return frame;
}

class DoubleFrameLinesTest : public ::testing::TestWithParam<int> {
protected:
    test::ScratchDir dir;
};

TEST_P(DoubleFrameLinesTest, OddRowsUpTo477CopyTheRowBelowAndNothingElseChanges) {
    const Bytes original = MakeFrameBytes(DistinctRows(1), GetParam());
    WriteBytes(dir / TempFile, original);

    DoubleFrameLines(dir.path());

    const Bytes result = ReadBytes(dir / TempFile);
    ASSERT_EQ(result.size(), original.size());
    EXPECT_TRUE(result == Doubled(original));

    const std::span<const std::uint8_t> before(original);
    const std::span<const std::uint8_t> after(result);
    for (int k = 0; k <= 238; ++k) {
        ASSERT_TRUE(SameRow(StoredRow(after, 2 * k + 1), StoredRow(after, 2 * k))) << "row " << k;
    }
    // 239 pairs, not 240: the top two lines of the picture stay as read out.
    EXPECT_TRUE(SameRow(StoredRow(after, 478), StoredRow(before, 478)));
    EXPECT_TRUE(SameRow(StoredRow(after, 479), StoredRow(before, 479)));
    EXPECT_FALSE(SameRow(StoredRow(after, 479), StoredRow(after, 478)));
    const std::size_t header = test::PixelDataOffset(before);
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + header, result.begin()));
}

TEST_P(DoubleFrameLinesTest, DoublingTwiceEqualsDoublingOnce) {
    WriteBytes(dir / TempFile, MakeFrameBytes(DistinctRows(2), GetParam()));
    DoubleFrameLines(dir.path());
    const Bytes once = ReadBytes(dir / TempFile);

    DoubleFrameLines(dir.path());

    EXPECT_TRUE(ReadBytes(dir / TempFile) == once);
}

// 40: the usual 54-byte header; 124: the larger header, pixel data from offset 138.
INSTANTIATE_TEST_SUITE_P(InfoHeaders, DoubleFrameLinesTest, ::testing::Values(40, 124));

TEST(DoubleFrameLines, BytesAfterTheFrameAreKept) {
    test::ScratchDir dir;
    Bytes original = MakeFrameBytes(DistinctRows(3));
    const Bytes tail = {1, 2, 3, 4, 5, 6, 7};
    original.insert(original.end(), tail.begin(), tail.end());
    WriteBytes(dir / TempFile, original);

    DoubleFrameLines(dir.path());

    const Bytes result = ReadBytes(dir / TempFile);
    ASSERT_EQ(result.size(), original.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), result.end() - 7));
    EXPECT_TRUE(result == Doubled(original));
}

} // namespace
} // namespace lumenvale
