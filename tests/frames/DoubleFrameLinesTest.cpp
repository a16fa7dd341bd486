// Line doubling of a binned frame in "temp.bmp".
#include "frames/FrameSteps.h"
#include "support/FrameFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace lumenvale {
namespace {

using test::MakeFrameBytes;
using test::ReadBytes;
using test::StoredRow;

using Bytes = std::vector<std::uint8_t>;

// What doubling must give, stated on whole rows: odd rows 1..477 copy the row below; the even
// rows, rows 478 and 479 (239 pairs, not 240), the header and anything after the pixel data
// stay as they were.
Bytes Doubled(Bytes frame) {
    for (int k = 0; k <= 238; ++k) {
        const auto lower = StoredRow(std::span<const std::uint8_t>(frame), 2 * k);
        const Bytes copy(lower.begin(), lower.end());
        std::ranges::copy(copy, StoredRow(std::span<std::uint8_t>(frame), 2 * k + 1).begin());
    }
    return frame;
}

struct Layout {
    int infoHeader;   // 40: pixel data at offset 54; 124: the larger header, offset 138
    std::size_t tail; // bytes after the pixel data
};

class DoubleFrameLinesTest : public ::testing::TestWithParam<Layout> {};

TEST_P(DoubleFrameLinesTest, OddRowsUpTo477CopyTheRowBelowAndDoublingAgainChangesNothing) {
    test::ScratchDir dir;
    Bytes original = MakeFrameBytes(test::DistinctRows(1), GetParam().infoHeader);
    original.insert(original.end(), GetParam().tail, 0xA5);
    test::WriteBytes(dir / TempFile, original);

    DoubleFrameLines(dir.path());

    const Bytes once = ReadBytes(dir / TempFile);
    ASSERT_EQ(once.size(), original.size());
    EXPECT_TRUE(once == Doubled(original));

    DoubleFrameLines(dir.path());
    EXPECT_TRUE(ReadBytes(dir / TempFile) == once);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DoubleFrameLinesTest,
                         ::testing::Values(Layout{40, 0}, Layout{124, 0}, Layout{40, 7}),
                         [](const auto& info) {
                             return "header" + std::to_string(info.param.infoHeader) + "tail" +
                                    std::to_string(info.param.tail);
                         });

} // namespace
} // namespace lumenvale
