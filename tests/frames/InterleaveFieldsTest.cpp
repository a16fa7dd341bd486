// Weaving the second field's rows into the odd rows of "temp.bmp".
#include "frames/FrameSteps.h"
#include "support/FrameFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace lumenvale {
namespace {

using test::DistinctRows;
using test::MakeFrameBytes;
using test::ReadBytes;
using test::StoredRow;

using Bytes = std::vector<std::uint8_t>;

// Stored rows 3, 5, ..., 479 of the base become the source's rows 2, 4, ..., 478; rows 0, 1, 2
// and the even rows are the base's own. Row 479 ends at the file's last byte, so the last byte
// written is the last byte of a full-size frame.
Bytes Interleaved(Bytes base, const Bytes& source) {
    for (int r = 3; r <= 479; r += 2) {
        std::ranges::copy(StoredRow(std::span<const std::uint8_t>(source), r - 1),
                          StoredRow(std::span<std::uint8_t>(base), r).begin());
    }
    return base;
}

struct Fields {
    int baseHeader; // 40: pixel data at offset 54; 124: at offset 138
    int sourceHeader;
    std::uint32_t sourceSeed; // 1: the same picture as the base
};

class InterleaveFieldsTest : public ::testing::TestWithParam<Fields> {};

TEST_P(InterleaveFieldsTest, OddRowsFrom3ComeFromTheSourceRowBelowAndTheSourceIsOnlyRead) {
    test::ScratchDir dir;
    const Bytes base = MakeFrameBytes(DistinctRows(1), GetParam().baseHeader);
    const Bytes source =
        MakeFrameBytes(DistinctRows(GetParam().sourceSeed), GetParam().sourceHeader);
    test::WriteBytes(dir / TempFile, base);
    test::WriteBytes(dir / Temp2File, source);

    InterleaveFields(dir.path());

    const Bytes result = ReadBytes(dir / TempFile);
    ASSERT_EQ(result.size(), base.size());
    EXPECT_TRUE(result == Interleaved(base, source));
    EXPECT_TRUE(ReadBytes(dir / Temp2File) == source);
}

INSTANTIATE_TEST_SUITE_P(Fields, InterleaveFieldsTest,
                         ::testing::Values(Fields{40, 40, 2}, Fields{124, 124, 2},
                                           Fields{40, 124, 2}, Fields{124, 40, 2},
                                           Fields{40, 40, 1}),
                         [](const auto& info) {
                             return "base" + std::to_string(info.param.baseHeader) + "source" +
                                    std::to_string(info.param.sourceHeader) +
                                    (info.param.sourceSeed == 1 ? "Identical" : "");
                         });

} // namespace
} // namespace lumenvale
