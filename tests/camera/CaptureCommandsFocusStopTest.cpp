// Focus, Stop, and a run told to end because the program is closing.
#include "CaptureRig.h"

#include "acquisition/Acquisition.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

namespace lumenvale::test {
namespace {

using States = std::vector<std::uint8_t>;

class FocusCommandTest : public ::testing::Test {
protected:
    // The user answers the dialog; no timer does it for them.
    static ScriptedAcquisition::Step Answered(ScriptedAcquisition::Step step, bool accept) {
        step.whileOpen = [accept](QDialog& dialog) { accept ? dialog.accept() : dialog.reject(); };
        return step;
    }

    CaptureRig rig;
};

TEST_F(FocusCommandTest, PulsesAndAcquiresWithoutTouchingAnythingElse) {
    for (const bool stopEnabled : {false, true}) {
        CaptureRig r;
        r.state.FramesRequested = 5;
        r.state.FramesRemaining = -1;
        r.state.ExposureMs = 1234;
        r.state.PortState = LineReadoutField1;
        r.panel.stopEnabled = stopEnabled;
        const QByteArray frame = CaptureRig::Frame(DistinctRows(3));
        r.services.acquisition.script.push_back(
            Answered(ScriptedAcquisition::Confirm(frame), true));
        r.commands.focus();

        EXPECT_EQ(r.states(), (States{0x27, 0x37}));
        EXPECT_EQ(r.state.CaptureBusy, 0);
        EXPECT_EQ(r.services.keys.enters, 0) << "the user confirms, not the program";
        EXPECT_EQ(r.services.timers.activeCount(), 0U);
        EXPECT_EQ(r.bytes("temp.bmp"), CaptureRig::Bytes(frame)) << "left as acquired";
        EXPECT_TRUE(r.viewer.shown.empty());
        EXPECT_EQ(r.state.FramesRequested, 5);
        EXPECT_EQ(r.state.FramesRemaining, -1);
        EXPECT_EQ(r.state.ExposureMs, 1234);
        EXPECT_EQ(r.state.PortState, LineReadoutField1);
        EXPECT_EQ(r.panel.stopEnabled, stopEnabled);
        EXPECT_EQ(r.panel.progressCalls, 0);
        EXPECT_TRUE(r.panel.text3History.isEmpty());
        EXPECT_FALSE(r.exists("frame0x37.bmp"));
        EXPECT_TRUE(r.services.messages.texts.isEmpty());
    }
}

TEST_F(FocusCommandTest, CancellingIsSilentButAFailingSourceIsReported) {
    rig.services.acquisition.script = {
        Answered(ScriptedAcquisition::Cancel(), false),
        Answered(ScriptedAcquisition::Fail(AcquireNoSource), true),
    };
    rig.commands.focus();
    EXPECT_TRUE(rig.services.messages.texts.isEmpty());
    EXPECT_EQ(rig.state.CaptureBusy, 0);

    rig.commands.focus();
    rig.expectOneMessage({"focus", "not connected"});
    EXPECT_EQ(rig.state.CaptureBusy, 0);
}

// The Video window's recording keeps the camera: no command writes a line or acquires, and
// each says why.
TEST_F(FocusCommandTest, AVideoBeingRecordedKeepsEveryCommandFromStarting) {
    rig.services.acquisition.setRecordingVideo(true);
    rig.commands.focus();
    rig.commands.binned();
    rig.commands.hires();
    EXPECT_TRUE(rig.services.acquisition.calls.empty());
    EXPECT_TRUE(rig.states().empty());
    EXPECT_EQ(rig.state.CaptureBusy, 0);
    ASSERT_EQ(rig.services.messages.texts.size(), 3);
    EXPECT_TRUE(rig.services.messages.texts[0].contains(QStringLiteral("video is being recorded")));
}

TEST_F(FocusCommandTest, IsBusyWhileItsDialogIsOpenOtherCommandsWaitButStopActs) {
    rig.state.FramesRemaining = 4;
    rig.state.ExposureMs = 900;
    rig.panel.stopEnabled = true;
    ScriptedAcquisition::Step step;
    step.whileOpen = [this](QDialog& dialog) {
        rig.commands.binned();
        rig.commands.hires();
        rig.commands.focus();
        rig.commands.stop();
        dialog.accept();
    };
    rig.services.acquisition.script.push_back(step);
    rig.commands.focus();

    EXPECT_EQ(rig.services.acquisition.calls.size(), 1U);
    EXPECT_EQ(rig.states(), (States{0x27, 0x37}));
    EXPECT_EQ(rig.state.FramesRemaining, 0);
    EXPECT_EQ(rig.state.ExposureMs, 0);
    EXPECT_FALSE(rig.panel.stopEnabled);
}

TEST(StopCommandTest, StopOrClosingDoesNothingWhileNoCommandRunsNorToTheNextRun) {
    for (const bool enabled : {false, true}) {
        CaptureRig rig;
        rig.state.FramesRemaining = 3;
        rig.state.ExposureMs = 700;
        rig.panel.stopEnabled = enabled;
        rig.commands.stop();
        rig.commands.endSoon();
        EXPECT_EQ(rig.state.FramesRemaining, 3);
        EXPECT_EQ(rig.state.ExposureMs, 700);
        EXPECT_EQ(rig.panel.stopEnabled, enabled);
        EXPECT_TRUE(rig.states().empty());

        rig.panel.text2 = QStringLiteral("0");
        rig.commands.binned();
        EXPECT_EQ(rig.services.acquisition.calls.size(), 1U);
        EXPECT_EQ(rig.viewer.shown.size(), 1U);
        EXPECT_TRUE(rig.panel.stopEnabled);
    }
}

// ---- Stop, and the program closing while a command waits ----

TEST(StopOrCloseTest, DuringTheExposureBothCutItShortAndTheFrameIsStillReadOutAndSaved) {
    for (const bool closing : {false, true}) {
        SCOPED_TRACE(closing ? "closing" : "Stop");
        CaptureRig rig;
        rig.panel.text2 = QStringLiteral("30");
        rig.panel.text3 = QStringLiteral("3");
        rig.panel.check4 = 1;
        rig.panel.check5 = 1;
        rig.afterAmpOffExposureStarts(
            [&rig, closing] { closing ? rig.commands.endSoon() : rig.commands.stop(); });
        QElapsedTimer clock;
        clock.start();
        rig.commands.binned();

        EXPECT_LT(clock.elapsed(), 10000) << "the 30 s exposure is cut short";
        EXPECT_EQ(rig.states(), (States{0x27, 0x37, 0x14, 0x34, 0x30, 0x37}));
        EXPECT_EQ(rig.services.acquisition.calls.size(), 1U);
        EXPECT_EQ(rig.viewer.shown.size(), 1U);
        EXPECT_EQ(rig.savedCount(), 1U);
        // Saved as frame FramesRequested + 1: Stop has already set FramesRemaining to 0.
        EXPECT_TRUE(std::filesystem::exists(rig.saved("image004.bmp")));
        EXPECT_TRUE(rig.services.messages.texts.isEmpty());
        rig.expectEnded(" 3", false);
    }
}

class EndingRunTest : public ::testing::Test {
protected:
    CaptureRig rig;
};

TEST_F(EndingRunTest, DuringTheSettleWaitWritesNoExposureState) {
    rig.panel.text2 = QStringLiteral("30");
    QTimer::singleShot(0, [this] { rig.commands.endSoon(); });
    rig.commands.hires();

    EXPECT_EQ(rig.states(), (States{0x27, 0x37}));
    EXPECT_TRUE(rig.services.acquisition.calls.empty());
    EXPECT_EQ(rig.state.CaptureBusy, 0);
}

TEST_F(EndingRunTest, AFieldCancelledByHandEndsTheRunAndSaysSo) {
    ScriptedAcquisition::Step first = ScriptedAcquisition::Confirm();
    first.whileOpen = [this](QDialog& dialog) {
        rig.commands.endSoon();
        dialog.reject();
    };
    rig.services.acquisition.script.push_back(first);
    rig.panel.text3 = QStringLiteral("2");
    rig.commands.hires();

    EXPECT_EQ(rig.services.acquisition.calls.size(), 1U);
    rig.expectOneMessage({"Frame 1 of 2", "first field"});
    EXPECT_TRUE(rig.viewer.shown.empty());
    rig.expectEnded(" 2", false);
}

TEST_F(EndingRunTest, AFrameAlreadyReadOutIsFinishedAndSaved) {
    // The binned run lets events through once more after its readout; a close arriving then
    // still lets the frame be copied, doubled, shown and saved.
    rig.panel.text3 = QStringLiteral("2");
    rig.panel.check5 = 1;
    rig.panel.check4 = 1;
    rig.services.acquisition.script.push_back(ScriptedAcquisition::ReturnAtOnce());
    // With no exposure time and an acquisition that handles no events, the first place this
    // runs is the pump right after the readout.
    rig.afterAmpOffExposureStarts([this] { rig.commands.endSoon(); });
    rig.panel.text2 = QStringLiteral("0");
    rig.commands.binned();

    EXPECT_EQ(rig.services.acquisition.calls.size(), 1U);
    EXPECT_EQ(rig.viewer.shown.size(), 1U);
    EXPECT_TRUE(std::filesystem::exists(rig.saved("image003.bmp")));
    EXPECT_TRUE(rig.services.messages.texts.isEmpty());
}

} // namespace
} // namespace lumenvale::test
