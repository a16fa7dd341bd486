// The Hi-res run: two readouts per exposure, raw copies, matching, field order, weaving.
#include "CaptureRig.h"

#include "acquisition/Acquisition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace lumenvale::test {
namespace {

using States = std::vector<std::uint8_t>;

// The first field is dim and the second bright, so matching has work to do and every row
// shows which field it came from.
FixturePixel DimField(int x, int row) {
    const auto v = static_cast<std::uint8_t>(10 + (x + 3 * row) % 90);
    return {v, v, v};
}

FixturePixel BrightField(int x, int row) {
    const auto v = static_cast<std::uint8_t>(150 + (7 * x + row) % 100);
    return {v, v, v};
}

bool SameRow(const std::vector<std::uint8_t>& a, int rowA, const std::vector<std::uint8_t>& b,
             int rowB) {
    return std::ranges::equal(StoredRow(a, rowA), StoredRow(b, rowB));
}

class HiresRunTest : public ::testing::Test {
protected:
    void scriptFields() {
        rig.services.acquisition.script = {ScriptedAcquisition::Confirm(field1),
                                           ScriptedAcquisition::Confirm(field2)};
    }

    CaptureRig rig;
    const QByteArray field1 = CaptureRig::Frame(DimField);
    const QByteArray field2 = CaptureRig::Frame(BrightField);
};

struct WeaveCase {
    std::int16_t order;
    std::int16_t match;
};

class HiresWeaveTest : public HiresRunTest, public ::testing::WithParamInterface<WeaveCase> {};

TEST_P(HiresWeaveTest, WovenFrameFollowsOrderAndMatchingWhileRawCopiesStayAsAcquired) {
    const auto [order, match] = GetParam();
    rig.settings.DeinterlaceOrder = order;
    rig.panel.check6 = match;
    // A leftover from elsewhere must not stop the swap.
    WriteBytes(rig.dir / "temp3.bmp", CaptureRig::Bytes(QByteArray("stale")));
    scriptFields();
    rig.commands.hires();
    ASSERT_TRUE(rig.services.messages.texts.isEmpty())
        << rig.services.messages.texts.join('|').toStdString();

    const auto dim = CaptureRig::Bytes(field1);
    const auto bright = CaptureRig::Bytes(field2);
    const auto woven = rig.bytes("temp.bmp");
    const bool swapped = order == 2;
    const auto& base = swapped ? bright : dim;
    const auto& inserted = swapped ? dim : bright;
    const bool baseScaled = swapped && match == 1;
    const bool insertedScaled = !swapped && match == 1;

    for (const int row : {0, 2, 100, 476}) {
        EXPECT_EQ(SameRow(woven, row, base, row), !baseScaled) << "base row " << row;
    }
    for (const int row : {2, 100, 476}) {
        EXPECT_EQ(SameRow(woven, row + 1, inserted, row), !insertedScaled)
            << "inserted row " << row;
    }
    if (match == 1) {
        // Scaled rows are darker, never brighter.
        const auto scaledFrom = swapped ? StoredRow(woven, 0) : StoredRow(woven, 3);
        const auto original = StoredRow(bright, swapped ? 0 : 2);
        EXPECT_LT(scaledFrom[0], original[0]);
    }
    EXPECT_EQ(rig.services.messages.beeps, match == 1 ? 1 : 0);
    if (swapped) {
        EXPECT_EQ(rig.bytes("temp2.bmp"), dim) << "the unscaled first field";
        EXPECT_FALSE(rig.exists("temp3.bmp"));
    } else {
        EXPECT_TRUE(rig.exists("temp3.bmp")) << "no swap, nothing deleted";
    }
    EXPECT_EQ(rig.viewer.shown.size(), 1U);
    EXPECT_EQ(rig.bytes("hires0x35.bmp"), dim) << "copied before any processing";
    EXPECT_EQ(rig.bytes("hires0x37.bmp"), bright) << "copied before any processing";
}

INSTANTIATE_TEST_SUITE_P(OrderAndMatching, HiresWeaveTest,
                         ::testing::Values(WeaveCase{1, 0}, WeaveCase{1, 1}, WeaveCase{2, 0},
                                           WeaveCase{2, 1}, WeaveCase{0, 1}, WeaveCase{3, 0}));

TEST_F(HiresRunTest, StopDuringTheFirstFieldStillTakesTheSecond) {
    rig.panel.text3 = QStringLiteral("2");
    rig.services.acquisition.script = {CaptureRig::WhileOpen([this] { rig.commands.stop(); },
                                                             ScriptedAcquisition::Confirm(field1)),
                                       ScriptedAcquisition::Confirm(field2)};
    rig.commands.hires();

    EXPECT_EQ(rig.services.acquisition.calls.size(), 2U);
    EXPECT_EQ(rig.states(), (States{0x27, 0x37, 0x14, 0x34, 0x34, 0x35, 0x37}));
    EXPECT_EQ(rig.viewer.shown.size(), 1U);
    EXPECT_TRUE(SameRow(rig.bytes("temp.bmp"), 3, CaptureRig::Bytes(field2), 2));
    rig.expectEnded(" 2", false);
}

TEST_F(HiresRunTest, MatchingAndOrderAreReadWhereTheyAreUsed) {
    rig.panel.text2 = QStringLiteral("0");
    rig.panel.text3 = QStringLiteral("2");
    const auto change = [this] {
        rig.settings.DeinterlaceOrder = 2;
        rig.panel.check6 = 1;
    };
    rig.services.acquisition.script = {
        ScriptedAcquisition::Confirm(field1),
        CaptureRig::WhileOpen(change, ScriptedAcquisition::Confirm(field2)),
        ScriptedAcquisition::Confirm(field1), ScriptedAcquisition::Confirm(field2)};
    rig.commands.hires();

    // The first frame was already matched and swapped: both were read after its readout.
    EXPECT_EQ(rig.services.messages.beeps, 2);
    EXPECT_FALSE(SameRow(rig.bytes("temp.bmp"), 0, CaptureRig::Bytes(field2), 0));
    ASSERT_EQ(rig.viewer.shown.size(), 2U);
}

TEST_F(HiresRunTest, CancelledSecondFieldEndsTheRunWithoutWeaving) {
    rig.panel.text3 = QStringLiteral("2");
    rig.services.acquisition.script = {ScriptedAcquisition::Confirm(field1),
                                       ScriptedAcquisition::Cancel()};
    rig.commands.hires();

    rig.expectOneMessage({"Frame 1 of 2", "second field"});
    EXPECT_TRUE(rig.viewer.shown.empty());
    EXPECT_EQ(rig.bytes("temp.bmp"), CaptureRig::Bytes(field1)) << "not woven";
    EXPECT_EQ(rig.bytes("hires0x35.bmp"), CaptureRig::Bytes(field1));
    EXPECT_FALSE(rig.exists("hires0x37.bmp"));
    rig.expectEnded(" 2", true);
}

TEST_F(HiresRunTest, SwapThatCannotDeleteTheLeftoverEndsTheRunWithBothFieldsIntact) {
    rig.settings.DeinterlaceOrder = 2;
    const auto stale = rig.dir / "temp3.bmp";
    WriteBytes(stale, CaptureRig::Bytes(QByteArray("stale")));
    std::filesystem::permissions(stale, std::filesystem::perms::owner_read);
    scriptFields();
    rig.commands.hires();

    rig.expectOneMessage({"swapping", "temp3.bmp"});
    EXPECT_EQ(rig.bytes("temp.bmp"), CaptureRig::Bytes(field1));
    EXPECT_EQ(rig.bytes("temp2.bmp"), CaptureRig::Bytes(field2));
    EXPECT_TRUE(rig.viewer.shown.empty());
    EXPECT_EQ(rig.state.CaptureBusy, 0);
}

TEST_F(HiresRunTest, SecondFieldThatIsNoFrameIsRefusedByTheWeave) {
    rig.services.acquisition.script = {ScriptedAcquisition::Confirm(field1),
                                       ScriptedAcquisition::Confirm(QByteArray("junk"))};
    rig.commands.hires();

    rig.expectOneMessage({"interleaving", "temp2.bmp"});
    EXPECT_EQ(rig.bytes("temp.bmp"), CaptureRig::Bytes(field1)) << "left as it was";
    EXPECT_TRUE(rig.viewer.shown.empty());
}

} // namespace
} // namespace lumenvale::test
