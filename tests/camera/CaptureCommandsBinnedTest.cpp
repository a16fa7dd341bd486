// The 2x1 Binned run: lines, counts, exposure times, Stop, raw copy, doubling, saving, errors.
#include "CaptureRig.h"

#include "platform/Acquisition.h"

#include <QDialog>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

namespace lumenvale::test {
namespace {

using States = std::vector<std::uint8_t>;

class BinnedRun : public ::testing::Test {
protected:
    CaptureRig rig;
};

TEST_F(BinnedRun, OneFrameWritesTheWholeLineHistoryAndEndsReadyForTheNext) {
    for (const std::int16_t ampOff : {0, 1}) {
        CaptureRig r;
        r.panel.check4 = ampOff;
        r.commands.Binned();

        const std::uint8_t exposure = ampOff == 1 ? LineExposeAmpOff : LineExposeAmpOn;
        EXPECT_EQ(r.states(), (States{0x27, 0x37, 0x14, 0x34, exposure, 0x37})) << ampOff;
        const auto history = r.services.lines.history();
        ASSERT_EQ(history.size(), 6U);
        EXPECT_GE(history[2].tick - history[1].tick, SettleMs);
        EXPECT_GE(r.exposureSeen(), 50);
        for (const auto& write : r.services.port.writes) {
            EXPECT_EQ(write.port, CameraPort);
            EXPECT_EQ(write.size, 1);
        }

        EXPECT_EQ(r.services.acquisition.fileNames(),
                  std::vector<std::string>{(r.dir / "temp.bmp").string()});
        EXPECT_EQ(r.services.acquisition.calls[0].parent, &r.panel.window);
        EXPECT_EQ(r.services.keys.enters, 1);
        EXPECT_EQ(r.services.timers.activeCount(), 0U);
        EXPECT_EQ(r.state.ExposureMs, 50);
        EXPECT_EQ(r.state.TimerPhase, 2);
        EXPECT_EQ(r.state.PortState, LineReadout);
        EXPECT_EQ(r.viewer.shown.size(), 1U);
        EXPECT_EQ(r.panel.text3, QStringLiteral(" 1"));
        EXPECT_EQ(r.panel.progressValue, 0.0F);
        EXPECT_EQ(r.state.CaptureBusy, 0);
        EXPECT_TRUE(r.panel.stopEnabled) << "a run that counted down leaves Stop enabled";
        EXPECT_TRUE(r.services.messages.texts.isEmpty());
    }
}

TEST_F(BinnedRun, RawCopyIsTheFrameAsAcquiredAndTheWorkingFileIsDoubled) {
    const QByteArray frame = CaptureRig::Frame(DistinctRows(7));
    rig.services.acquisition.script.push_back(ScriptedAcquisition::Confirm(frame));
    rig.commands.Binned();

    EXPECT_EQ(rig.bytes("frame0x37.bmp"), CaptureRig::Bytes(frame));
    const std::vector<std::uint8_t> temp = rig.bytes("temp.bmp");
    const std::vector<std::uint8_t> raw = CaptureRig::Bytes(frame);
    for (int row = 0; row < 478; row += 2) {
        ASSERT_TRUE(std::ranges::equal(StoredRow(temp, row), StoredRow(raw, row))) << row;
        ASSERT_TRUE(std::ranges::equal(StoredRow(temp, row + 1), StoredRow(raw, row))) << row;
    }
    // The viewer shows the processed file, not the raw one.
    ASSERT_EQ(rig.viewer.shown.size(), 1U);
    const QImage& shown = rig.viewer.shown[0];
    EXPECT_EQ(shown.pixel(10, 479), shown.pixel(10, 478)); // stored rows 0 and 1
}

struct CountCase {
    const char* typed;
    const char* shown;
};

class CountWithoutFrames : public ::testing::TestWithParam<CountCase> {};

TEST_P(CountWithoutFrames, TakesNoFrameWritesNoLineAndShowsTheCount) {
    CaptureRig r;
    r.panel.text3 = QString::fromUtf8(GetParam().typed);
    r.commands.Binned();

    EXPECT_TRUE(r.services.port.writes.empty());
    EXPECT_TRUE(r.services.acquisition.calls.empty());
    EXPECT_EQ(r.panel.text3, QString::fromUtf8(GetParam().shown));
    EXPECT_TRUE(r.panel.stopEnabled);
    EXPECT_EQ(r.state.CaptureBusy, 0);
    EXPECT_TRUE(r.services.messages.texts.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Texts, CountWithoutFrames,
                         ::testing::Values(CountCase{"", " 0"}, CountCase{"0", " 0"},
                                           CountCase{"-3", "-3"}, CountCase{"abc", " 0"},
                                           CountCase{"0.5", " 0"}));

TEST_F(BinnedRun, HalfCountsRoundToEven) {
    for (const auto& [typed, frames] : {std::pair{"2.5", 2}, std::pair{"3.5", 4}}) {
        CaptureRig r;
        r.panel.text2 = QStringLiteral("0");
        r.panel.text3 = QString::fromLatin1(typed);
        r.commands.Binned();
        EXPECT_EQ(static_cast<int>(r.services.acquisition.calls.size()), frames) << typed;
        EXPECT_EQ(r.state.FramesRequested, frames);
    }
}

TEST_F(BinnedRun, CountsDownInTheBoxAndIgnoresEditsToIt) {
    rig.panel.text2 = QStringLiteral("0");
    rig.panel.text3 = QStringLiteral("3");
    ScriptedAcquisition::Step edited = ScriptedAcquisition::Confirm();
    edited.whileOpen = [this](QDialog&) { rig.panel.text3 = QStringLiteral("9"); };
    rig.services.acquisition.script.push_back(edited);
    rig.commands.Binned();

    EXPECT_EQ(rig.services.acquisition.calls.size(), 3U);
    EXPECT_EQ(rig.panel.text3History, (QStringList{QStringLiteral(" 2"), QStringLiteral(" 1"),
                                                   QStringLiteral(" 0"), QStringLiteral(" 3")}));
    EXPECT_EQ(rig.state.FramesRemaining, 0);
}

TEST_F(BinnedRun, ExposureTimeIsReadForEveryFrame) {
    rig.panel.text2 = QStringLiteral("0.05");
    rig.panel.text3 = QStringLiteral("2");
    std::vector<std::int32_t> seen;
    ScriptedAcquisition::Step first = ScriptedAcquisition::Confirm();
    first.whileOpen = [&](QDialog&) {
        seen.push_back(rig.state.ExposureMs);
        rig.panel.text2 = QStringLiteral("0.2");
    };
    ScriptedAcquisition::Step second = ScriptedAcquisition::Confirm();
    second.whileOpen = [&](QDialog&) { seen.push_back(rig.state.ExposureMs); };
    rig.services.acquisition.script = {first, second};
    rig.commands.Binned();

    EXPECT_EQ(seen, (std::vector<std::int32_t>{50, 200}));
    EXPECT_GE(rig.exposureSeen(1), 200);
}

TEST_F(BinnedRun, HalfASecondIsFiveHundredMilliseconds) {
    rig.panel.text2 = QStringLiteral("0.5");
    rig.commands.Binned();
    EXPECT_EQ(rig.state.ExposureMs, 500);
    EXPECT_GE(rig.exposureSeen(), 500);
}

TEST_F(BinnedRun, NoExposureTimeReadsOutRightAfterTheFrameStart) {
    rig.panel.text2 = QString();
    rig.panel.progressCalls = 0;
    rig.commands.Binned();
    EXPECT_EQ(rig.state.ExposureMs, 0);
    EXPECT_EQ(rig.viewer.shown.size(), 1U);
    // Maximum and value before the wait, value after it; the wait itself draws nothing.
    EXPECT_EQ(rig.panel.progressCalls, 3);
}

TEST_F(BinnedRun, StopDuringTheSettleWaitLetsTheFrameExposeInFull) {
    rig.panel.text2 = QStringLiteral("0.3");
    rig.panel.text3 = QStringLiteral("3");
    // The settle wait is the first place the run lets events through.
    QTimer::singleShot(0, [this] { rig.commands.Stop(); });
    rig.commands.Binned();

    EXPECT_EQ(rig.services.acquisition.calls.size(), 1U);
    EXPECT_EQ(rig.state.ExposureMs, 300);
    EXPECT_GE(rig.exposureSeen(), 300);
    EXPECT_FALSE(rig.panel.stopEnabled);
    EXPECT_EQ(rig.panel.text3, QStringLiteral(" 3"));
    EXPECT_EQ(rig.state.FramesRemaining, -1);
    EXPECT_EQ(rig.state.CaptureBusy, 0);
}

TEST_F(BinnedRun, StopDuringTheExposureCutsItShortAndStillSavesTheFrame) {
    rig.panel.text2 = QStringLiteral("30");
    rig.panel.text3 = QStringLiteral("3");
    rig.panel.check4 = 1;
    rig.panel.check5 = 1;
    rig.afterAmpOffExposureStarts([this] { rig.commands.Stop(); });
    rig.commands.Binned();

    EXPECT_LT(rig.exposureSeen(), 10000);
    EXPECT_EQ(rig.services.acquisition.calls.size(), 1U);
    EXPECT_EQ(rig.viewer.shown.size(), 1U);
    EXPECT_EQ(rig.savedCount(), 1U);
    EXPECT_TRUE(std::filesystem::exists(rig.saved("image004.bmp")));
    EXPECT_FALSE(rig.panel.stopEnabled);
    EXPECT_EQ(rig.panel.text3, QStringLiteral(" 3"));
    EXPECT_EQ(rig.state.CaptureBusy, 0);
}

TEST_F(BinnedRun, SavesEveryFrameUnderItsNumberWhileSaveIsTicked) {
    rig.panel.text2 = QStringLiteral("0");
    rig.panel.text3 = QStringLiteral("3");
    rig.panel.check5 = 1;
    ScriptedAcquisition::Step untick = ScriptedAcquisition::Confirm();
    untick.whileOpen = [this](QDialog&) { rig.panel.check5 = 0; };
    ScriptedAcquisition::Step tick = ScriptedAcquisition::Confirm();
    tick.whileOpen = [this](QDialog&) {
        rig.panel.check5 = 1;
        rig.panel.text4 = QStringLiteral("m42-");
    };
    rig.services.acquisition.script = {ScriptedAcquisition::Confirm(), untick, tick};
    rig.commands.Binned();

    EXPECT_TRUE(std::filesystem::exists(rig.saved("image001.bmp")));
    EXPECT_TRUE(std::filesystem::exists(rig.saved("m42-003.bmp")));
    EXPECT_EQ(rig.savedCount(), 2U);
}

TEST_F(BinnedRun, ASecondClickDuringTheRunDoesNothing) {
    rig.panel.text3 = QStringLiteral("2");
    ScriptedAcquisition::Step clicks = ScriptedAcquisition::Confirm();
    clicks.whileOpen = [this](QDialog&) {
        rig.commands.Binned();
        rig.commands.Hires();
        rig.commands.Focus();
    };
    rig.services.acquisition.script.push_back(clicks);
    rig.commands.Binned();

    EXPECT_EQ(rig.services.acquisition.calls.size(), 2U);
    EXPECT_EQ(rig.states().size(), 12U);
    EXPECT_EQ(rig.state.CaptureBusy, 0);
}

TEST_F(BinnedRun, AcquisitionThatReturnsBeforeTheTimerLeavesTheExposureStateOn) {
    rig.services.acquisition.script.push_back(ScriptedAcquisition::ReturnAtOnce());
    rig.commands.Binned();

    EXPECT_EQ(rig.states(), (States{0x27, 0x37, 0x14, 0x34, 0x34}));
    EXPECT_EQ(rig.state.TimerPhase, 0);
    EXPECT_EQ(rig.services.keys.enters, 0);
    EXPECT_EQ(rig.viewer.shown.size(), 1U);
    EXPECT_EQ(rig.services.timers.activeCount(), 0U);
}

// ---- Errors: each ends the run with a message and leaves the program ready ----

class BinnedRunError : public BinnedRun {
protected:
    void expectEndedWith(std::initializer_list<const char*> words) {
        rig.expectOneMessage(words);
        EXPECT_EQ(rig.state.CaptureBusy, 0);
        EXPECT_EQ(rig.services.timers.activeCount(), 0U);
    }
};

TEST_F(BinnedRunError, CancelledAcquisitionEndsTheRunWithoutTouchingTheOldFiles) {
    const QByteArray first = CaptureRig::Frame(DistinctRows(1));
    rig.panel.text3 = QStringLiteral("3");
    rig.panel.check5 = 1;
    rig.services.acquisition.script = {ScriptedAcquisition::Confirm(first),
                                       ScriptedAcquisition::Cancel()};
    rig.commands.Binned();

    expectEndedWith({"Frame 2 of 3", "cancelled"});
    EXPECT_EQ(rig.services.acquisition.calls.size(), 2U);
    EXPECT_EQ(rig.viewer.shown.size(), 1U);
    EXPECT_EQ(rig.savedCount(), 1U);
    EXPECT_EQ(rig.bytes("frame0x37.bmp"), CaptureRig::Bytes(first));
    EXPECT_EQ(rig.panel.text3, QStringLiteral(" 3"));
    EXPECT_TRUE(rig.panel.stopEnabled);
}

TEST_F(BinnedRunError, FailedAcquisitionSaysWhy) {
    rig.services.acquisition.script.push_back(ScriptedAcquisition::Fail(AcquireDeviceBusy));
    rig.commands.Binned();

    expectEndedWith({"Frame 1 of 1", "busy", "temp.bmp"});
    EXPECT_TRUE(rig.viewer.shown.empty());
    EXPECT_FALSE(rig.exists("frame0x37.bmp"));
}

TEST_F(BinnedRunError, ACountThatDoesNotFitIsRefusedBeforeAnyLine) {
    rig.panel.text3 = QStringLiteral("40000");
    rig.commands.Binned();

    expectEndedWith({"Number of Images", "-32768", "32767"});
    EXPECT_TRUE(rig.services.port.writes.empty());
    EXPECT_TRUE(rig.services.acquisition.calls.empty());
    EXPECT_EQ(rig.panel.text3, QStringLiteral("40000"));
}

TEST_F(BinnedRunError, AnExposureThatDoesNotFitIsRefusedBeforeAnyLine) {
    rig.panel.text2 = QStringLiteral("3000000");
    rig.panel.text3 = QStringLiteral("2");
    rig.commands.Binned();

    expectEndedWith({"Exposure time", "2147483.647"});
    EXPECT_TRUE(rig.services.port.writes.empty());
    EXPECT_TRUE(rig.services.acquisition.calls.empty());
    EXPECT_EQ(rig.panel.text3, QStringLiteral(" 2"));
}

TEST_F(BinnedRunError, AnExposureEditedOutOfRangeEndsTheRunBeforeTheNextReadout) {
    rig.panel.text3 = QStringLiteral("2");
    ScriptedAcquisition::Step edit = ScriptedAcquisition::Confirm();
    edit.whileOpen = [this](QDialog&) { rig.panel.text2 = QStringLiteral("99999999"); };
    rig.services.acquisition.script.push_back(edit);
    rig.commands.Binned();

    expectEndedWith({"Exposure time"});
    EXPECT_EQ(rig.services.acquisition.calls.size(), 1U);
    EXPECT_EQ(rig.states().size(), 6U) << "the second frame writes no line";
}

TEST_F(BinnedRunError, AFileThatIsNoFrameIsRefusedAndItsRawCopyKept) {
    const QByteArray junk("this is not a frame");
    rig.services.acquisition.script.push_back(ScriptedAcquisition::Confirm(junk));
    rig.commands.Binned();

    expectEndedWith({"line doubling", "temp.bmp"});
    EXPECT_EQ(rig.bytes("frame0x37.bmp"), CaptureRig::Bytes(junk));
    EXPECT_EQ(rig.bytes("temp.bmp"), CaptureRig::Bytes(junk));
    EXPECT_TRUE(rig.viewer.shown.empty());
}

TEST_F(BinnedRunError, ARawCopyThatCannotBeWrittenEndsTheRun) {
    std::filesystem::create_directory(rig.dir / "frame0x37.bmp");
    rig.commands.Binned();

    expectEndedWith({"raw copy", "frame0x37.bmp"});
    EXPECT_TRUE(rig.viewer.shown.empty());
    // Not doubled: processing never started.
    const auto temp = rig.bytes("temp.bmp");
    EXPECT_EQ(temp, CaptureRig::Bytes(rig.services.acquisition.defaultFrame));
}

TEST_F(BinnedRunError, AnAutoSaveThatFailsEndsTheRunAndKeepsEarlierFrames) {
    rig.panel.text2 = QStringLiteral("0");
    rig.panel.text3 = QStringLiteral("3");
    rig.panel.check5 = 1;
    ScriptedAcquisition::Step spoil = ScriptedAcquisition::Confirm();
    spoil.whileOpen = [this](QDialog&) {
        rig.settings.SaveDir = (rig.dir / "no such directory").string();
    };
    rig.services.acquisition.script = {ScriptedAcquisition::Confirm(), spoil};
    rig.commands.Binned();

    expectEndedWith({"Frame 2 of 3", "saving", "no such directory"});
    EXPECT_EQ(rig.services.acquisition.calls.size(), 2U);
    EXPECT_TRUE(std::filesystem::exists(rig.saved("image001.bmp")));
    EXPECT_EQ(rig.savedCount(), 1U);
    EXPECT_EQ(rig.panel.text3, QStringLiteral(" 3"));
}

} // namespace
} // namespace lumenvale::test
