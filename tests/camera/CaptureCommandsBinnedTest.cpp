// The 2x1 Binned run: lines (with those of a hi-res frame beside them), counts, exposure times,
// Stop, raw copy, doubling, saving, errors.
#include "CaptureRig.h"

#include "acquisition/Acquisition.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace lumenvale::test {
namespace {

using States = std::vector<std::uint8_t>;

class BinnedRunTest : public ::testing::Test {
protected:
    CaptureRig rig;
};

struct HistoryCase {
    const char* name;
    bool hires;
    std::int16_t ampOff;
    States states;
    bool serial = false; // on the serial adapter's default mapping
};

class OneFrameRunTest : public ::testing::TestWithParam<HistoryCase> {};

TEST_P(OneFrameRunTest, WritesTheWholeLineHistoryAndEndsReadyForTheNext) {
    const HistoryCase& c = GetParam();
    CaptureRig r(CaptureRig::Camera::Scripted, {}, c.serial);
    r.panel.check4 = c.ampOff;
    // Time passes between the write that moved the lines and the ones that did not, so a
    // start taken at the exposure-state write would show.
    r.services.lines.subscribe([](const LineWrite& write) {
        if (!write.moved) {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    c.hires ? r.commands.hires() : r.commands.binned();

    EXPECT_EQ(r.states(), c.states);
    const auto history = r.services.lines.history();
    ASSERT_EQ(history.size(), c.states.size());
    EXPECT_GE(history[2].tick - history[1].tick, SettleMs);
    // The exposure counts from the sending of the write that put the camera's lines into it:
    // the exposure state's, or the settle write when the mapping carries the two states alike.
    // The serial adapter's writes take a round trip to return.
    std::size_t entered = 4;
    while (entered > 2 && !history[entered].moved) {
        --entered;
    }
    EXPECT_EQ(entered, c.serial ? 2U : 4U);
    EXPECT_EQ(history[entered].sendingMs > 0, c.serial);
    EXPECT_GE(TickDiff(history[5].tick, history[entered].tick), 50);
    if (!c.hires) {
        EXPECT_EQ(r.state.ExposureStart,
                  TickAdd(history[entered].tick, -history[entered].sendingMs));
    }

    std::vector<std::string> files{(r.dir / "temp.bmp").string()};
    if (c.hires) {
        files.push_back((r.dir / "temp2.bmp").string());
    }
    EXPECT_EQ(r.services.acquisition.fileNames(), files);
    for (const auto& call : r.services.acquisition.calls) {
        EXPECT_EQ(call.parent, &r.panel.window);
    }
    EXPECT_EQ(r.services.keys.enters, static_cast<int>(files.size()));
    EXPECT_EQ(r.services.timers.activeCount(), 0U);
    // The second hi-res field is armed with no exposure of its own.
    EXPECT_EQ(r.state.ExposureMs, c.hires ? 0 : 50);
    EXPECT_EQ(r.state.ReadoutSelect, 1);
    EXPECT_EQ(r.state.TimerPhase, 2);
    EXPECT_EQ(r.state.PortState, LineReadout);
    EXPECT_EQ(r.viewer.shown.size(), 1U);
    EXPECT_EQ(r.panel.progressValue, 0.0F);
    r.expectEnded(" 1", true); // a run that counted down leaves Stop enabled
    EXPECT_TRUE(r.services.messages.texts.isEmpty());
}

// "Amp off" clear writes 0x34 twice in a row; hi-res holds 0x35 until the second readout.
const HistoryCase Histories[] = {
    {"Binned", false, 0, {0x27, 0x37, 0x14, 0x34, 0x34, 0x37}},
    {"BinnedAmpOff", false, 1, {0x27, 0x37, 0x14, 0x34, 0x30, 0x37}},
    {"Hires", true, 0, {0x27, 0x37, 0x14, 0x34, 0x34, 0x35, 0x37}},
    {"HiresAmpOff", true, 1, {0x27, 0x37, 0x14, 0x34, 0x30, 0x35, 0x37}},
    // RTS rises at 0x14; 0x34 moves no modem line.
    {"BinnedOnTheSerialDefault", false, 0, {0x27, 0x37, 0x14, 0x34, 0x34, 0x37}, true},
};

INSTANTIATE_TEST_SUITE_P(BothRuns, OneFrameRunTest, ::testing::ValuesIn(Histories),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BinnedRunTest, RawCopyIsTheFrameAsAcquiredAndTheWorkingFileIsDoubled) {
    const QByteArray frame = CaptureRig::Frame(DistinctRows(7));
    rig.services.acquisition.script.push_back(ScriptedAcquisition::Confirm(frame));
    rig.commands.binned();

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
    int frames;
    const char* shown;
};

class CountTextTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(CountTextTest, TakesTheRoundedCountOfFramesAndShowsItAfterwards) {
    CaptureRig r;
    r.panel.text2 = QStringLiteral("0");
    r.panel.text3 = QString::fromUtf8(GetParam().typed);
    r.commands.binned();

    EXPECT_EQ(static_cast<int>(r.services.acquisition.calls.size()), GetParam().frames);
    EXPECT_EQ(r.states().size(), 6U * static_cast<std::size_t>(GetParam().frames))
        << "no line is written without a frame";
    r.expectEnded(GetParam().shown, true);
    EXPECT_TRUE(r.services.messages.texts.isEmpty());
}

// Halves go to the even neighbour.
INSTANTIATE_TEST_SUITE_P(Texts, CountTextTest,
                         ::testing::Values(CountCase{"", 0, " 0"}, CountCase{"0", 0, " 0"},
                                           CountCase{"-3", 0, "-3"}, CountCase{"abc", 0, " 0"},
                                           CountCase{"0.5", 0, " 0"}, CountCase{"2.5", 2, " 2"},
                                           CountCase{"3.5", 4, " 4"}));

TEST_F(BinnedRunTest, CountsDownInTheBoxAndIgnoresEditsToIt) {
    rig.panel.text2 = QStringLiteral("0");
    rig.panel.text3 = QStringLiteral("3");
    rig.services.acquisition.script = {
        CaptureRig::WhileOpen([this] { rig.panel.text3 = QStringLiteral("9"); })};
    rig.commands.binned();

    EXPECT_EQ(rig.services.acquisition.calls.size(), 3U);
    EXPECT_EQ(rig.panel.text3History, (QStringList{QStringLiteral(" 2"), QStringLiteral(" 1"),
                                                   QStringLiteral(" 0"), QStringLiteral(" 3")}));
    EXPECT_EQ(rig.state.FramesRemaining, 0);
}

TEST_F(BinnedRunTest, ExposureTimeIsReadInSecondsForEveryFrame) {
    rig.panel.text2 = QStringLiteral("0.5");
    rig.panel.text3 = QStringLiteral("2");
    std::vector<std::int32_t> seen;
    rig.services.acquisition.script = {
        CaptureRig::WhileOpen([&] {
            seen.push_back(rig.state.ExposureMs);
            rig.panel.text2 = QStringLiteral("0.2");
        }),
        CaptureRig::WhileOpen([&] { seen.push_back(rig.state.ExposureMs); })};
    rig.commands.binned();

    EXPECT_EQ(seen, (std::vector<std::int32_t>{500, 200}));
    EXPECT_GE(rig.exposureSeen(0), 500);
    EXPECT_GE(rig.exposureSeen(1), 200);
}

TEST_F(BinnedRunTest, NoExposureTimeReadsOutRightAfterTheFrameStart) {
    rig.panel.text2 = QString();
    rig.panel.progressCalls = 0;
    rig.commands.binned();
    EXPECT_EQ(rig.state.ExposureMs, 0);
    EXPECT_EQ(rig.viewer.shown.size(), 1U);
    // Maximum and value before the wait, value after it; the wait itself draws nothing.
    EXPECT_EQ(rig.panel.progressCalls, 3);
}

TEST_F(BinnedRunTest, StopDuringTheSettleWaitLetsTheFrameExposeInFull) {
    rig.panel.text2 = QStringLiteral("0.3");
    rig.panel.text3 = QStringLiteral("3");
    // The settle wait is the first place the run lets events through.
    QTimer::singleShot(0, [this] { rig.commands.stop(); });
    rig.commands.binned();

    EXPECT_EQ(rig.services.acquisition.calls.size(), 1U);
    EXPECT_EQ(rig.state.ExposureMs, 300);
    EXPECT_GE(rig.exposureSeen(), 300);
    EXPECT_EQ(rig.state.FramesRemaining, -1);
    rig.expectEnded(" 3", false);
}

TEST_F(BinnedRunTest, SavesEveryFrameUnderItsNumberWhileSaveIsTicked) {
    rig.panel.text2 = QStringLiteral("0");
    rig.panel.text3 = QStringLiteral("3");
    rig.panel.check5 = 1;
    rig.services.acquisition.script = {ScriptedAcquisition::Confirm(),
                                       CaptureRig::WhileOpen([this] { rig.panel.check5 = 0; }),
                                       CaptureRig::WhileOpen([this] {
                                           rig.panel.check5 = 1;
                                           rig.panel.text4 = QStringLiteral("m42-");
                                       })};
    rig.commands.binned();

    EXPECT_TRUE(std::filesystem::exists(rig.saved("image001.bmp")));
    EXPECT_TRUE(std::filesystem::exists(rig.saved("m42-003.bmp")));
    EXPECT_EQ(rig.savedCount(), 2U);
}

TEST_F(BinnedRunTest, ASecondClickDuringTheRunDoesNothing) {
    rig.panel.text3 = QStringLiteral("2");
    rig.services.acquisition.script = {CaptureRig::WhileOpen([this] {
        rig.commands.binned();
        rig.commands.hires();
        rig.commands.focus();
    })};
    rig.commands.binned();

    EXPECT_EQ(rig.services.acquisition.calls.size(), 2U);
    EXPECT_EQ(rig.states().size(), 12U);
    EXPECT_EQ(rig.state.CaptureBusy, 0);
}

TEST(EarlyReturnTest, AcquisitionThatReturnsBeforeTheTimerLeavesThePreviousStateOn) {
    for (const bool hires : {false, true}) {
        SCOPED_TRACE(hires);
        CaptureRig r;
        auto& script = r.services.acquisition.script;
        if (hires) {
            script.push_back(ScriptedAcquisition::Confirm());
        }
        script.push_back(ScriptedAcquisition::ReturnAtOnce());
        hires ? r.commands.hires() : r.commands.binned();
        // Events handled after the acquisition must not tick the killed timer either.
        r.services.pump.waitForEvents(20);

        // The exposure state stays on, or the first field's readout state in hi-res.
        States expected{0x27, 0x37, 0x14, 0x34, 0x34};
        if (hires) {
            expected.push_back(0x35);
        }
        EXPECT_EQ(r.states(), expected);
        EXPECT_EQ(r.state.TimerPhase, 0);
        EXPECT_EQ(r.services.timers.activeCount(), 0U);
        EXPECT_EQ(r.viewer.shown.size(), 1U) << "the frame it wrote is still processed";
    }
}

// ---- Errors: each ends the run with a message and leaves the program ready ----

class BinnedRunErrorTest : public BinnedRunTest {
protected:
    void expectEndedWith(const std::vector<const char*>& words) {
        rig.expectOneMessage(words);
        EXPECT_EQ(rig.state.CaptureBusy, 0);
        EXPECT_EQ(rig.services.timers.activeCount(), 0U);
    }
};

TEST_F(BinnedRunErrorTest, CancelledAcquisitionEndsTheRunWithoutTouchingTheOldFiles) {
    const QByteArray first = CaptureRig::Frame(DistinctRows(1));
    rig.panel.text3 = QStringLiteral("3");
    rig.panel.check5 = 1;
    rig.services.acquisition.script = {ScriptedAcquisition::Confirm(first),
                                       ScriptedAcquisition::Cancel()};
    rig.commands.binned();

    expectEndedWith({"Frame 2 of 3", "cancelled"});
    EXPECT_EQ(rig.services.acquisition.calls.size(), 2U);
    EXPECT_EQ(rig.viewer.shown.size(), 1U);
    EXPECT_EQ(rig.savedCount(), 1U);
    EXPECT_EQ(rig.bytes("frame0x37.bmp"), CaptureRig::Bytes(first));
    rig.expectEnded(" 3", true);
}

TEST_F(BinnedRunErrorTest, FailedAcquisitionSaysWhy) {
    rig.services.acquisition.script.push_back(ScriptedAcquisition::Fail(AcquireDeviceBusy));
    rig.commands.binned();

    expectEndedWith({"Frame 1 of 1", "busy", "temp.bmp"});
    EXPECT_TRUE(rig.viewer.shown.empty());
    EXPECT_FALSE(rig.exists("frame0x37.bmp"));
}

// An unattended run loses only the frame that failed: its number stays unused, the others are
// taken and saved, and one message after the run lists what was lost. A camera that is gone
// ends the run, as there is nothing more to take.
TEST(FailedFrameTest, IsLeftOutAndTheRunGoesOnUnlessTheCameraIsGone) {
    using Step = ScriptedAcquisition::Step;
    const Step ok = ScriptedAcquisition::Confirm();
    const Step damaged = ScriptedAcquisition::Fail(AcquireDamagedFrame);
    struct Case {
        const char* what;
        bool hires;
        std::vector<Step> script;
        std::vector<const char*> saved;
        std::size_t acquisitions;
        std::vector<const char*> message;
    };
    const std::vector<Case> cases = {
        {"binned frame 2 damaged",
         false,
         {ok, damaged, ok},
         {"image001.bmp", "image003.bmp"},
         3,
         {"1 of 3 frames", "Frame 2 of 3", "damaged"}},
        {"hi-res frame 2, first field damaged: the second is still read out",
         true,
         {ok, ok, damaged, ok, ok, ok},
         {"image001.bmp", "image003.bmp"},
         6,
         {"1 of 3 frames", "Frame 2 of 3", "first field"}},
        {"no frame in time on the second field",
         true,
         {ok, ok, ok, ScriptedAcquisition::Fail(AcquireNoFrameInTime), ok, ok},
         {"image001.bmp", "image003.bmp"},
         6,
         {"Frame 2 of 3", "second field", "in time"}},
        {"camera unplugged at frame 2",
         false,
         {ok, ScriptedAcquisition::Fail(AcquireNoSource)},
         {"image001.bmp"},
         2,
         {"Frame 2 of 3", "not connected", "ended"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CaptureRig r;
        r.panel.text3 = QStringLiteral("3");
        r.panel.check5 = 1;
        r.services.acquisition.script = {c.script.begin(), c.script.end()};
        c.hires ? r.commands.hires() : r.commands.binned();

        std::vector<std::string> saved;
        for (const auto& entry : std::filesystem::directory_iterator(r.dir / "saved")) {
            saved.push_back(entry.path().filename().string());
        }
        std::sort(saved.begin(), saved.end());
        EXPECT_EQ(saved, std::vector<std::string>(c.saved.begin(), c.saved.end()));
        EXPECT_EQ(r.services.acquisition.calls.size(), c.acquisitions);
        EXPECT_EQ(r.services.acquisition.openSourceCalls, 1) << "the camera started once";
        r.expectOneMessage(c.message);
        r.expectEnded(" 3", true);
    }
}

TEST(BinnedRunRefusedTest, ACountOrExposureThatDoesNotFitIsRefusedBeforeAnyLine) {
    const struct {
        const char* text2;
        const char* text3;
        std::vector<const char*> words;
        const char* text3After; // a count that does not fit stays as typed
    } cases[] = {{"0.05", "40000", {"Number of Images", "-32768", "32767"}, "40000"},
                 {"3000000", "2", {"Exposure time", "2147483.647"}, " 2"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text3);
        CaptureRig r;
        r.panel.text2 = QString::fromLatin1(c.text2);
        r.panel.text3 = QString::fromLatin1(c.text3);
        r.commands.binned();

        r.expectOneMessage(c.words);
        EXPECT_TRUE(r.services.port.writes.empty());
        EXPECT_TRUE(r.services.acquisition.calls.empty());
        EXPECT_EQ(r.panel.text3, QString::fromLatin1(c.text3After));
        EXPECT_EQ(r.state.CaptureBusy, 0);
    }
}

TEST_F(BinnedRunErrorTest, AnExposureEditedOutOfRangeEndsTheRunBeforeTheNextReadout) {
    rig.panel.text3 = QStringLiteral("2");
    rig.services.acquisition.script = {
        CaptureRig::WhileOpen([this] { rig.panel.text2 = QStringLiteral("99999999"); })};
    rig.commands.binned();

    expectEndedWith({"Exposure time"});
    EXPECT_EQ(rig.services.acquisition.calls.size(), 1U);
    EXPECT_EQ(rig.states().size(), 6U) << "the second frame writes no line";
}

TEST(ExposureEditedInTheSettleWaitTest, OutOfRangeTheFrameKeepsTheTimeCheckedAndTheBoxIsNamed) {
    const struct {
        bool hires;
        const char* frames;
        bool fixedInTheExposure; // a valid time typed again before the next frame
        std::size_t acquisitions;
        std::size_t lines;
    } cases[] = {
        {false, "1", false, 1, 6},
        {false, "2", true, 2, 12},
        // The next frame's own check refuses the time before it writes a line.
        {true, "2", false, 2, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.hires ? "hi-res " : "binned ") + c.frames);
        CaptureRig rig;
        rig.panel.text2 = QStringLiteral("0.2");
        rig.panel.text3 = QString::fromLatin1(c.frames);
        bool edited = false;
        rig.services.lines.subscribe([&](const LineWrite& write) {
            if (write.state == LineReadout && !edited) {
                edited = true;
                QTimer::singleShot(0, [&] { rig.panel.text2 = QStringLiteral("99999999"); });
            }
        });
        if (c.fixedInTheExposure) {
            rig.afterAmpOffExposureStarts([&] { rig.panel.text2 = QStringLiteral("0.2"); });
            rig.panel.check4 = 1;
        }
        c.hires ? rig.commands.hires() : rig.commands.binned();

        EXPECT_EQ(rig.services.acquisition.calls.size(), c.acquisitions);
        EXPECT_EQ(rig.states().size(), c.lines);
        EXPECT_GE(rig.exposureSeen(0), 200) << "exposed for the time checked before the frame";
        EXPECT_EQ(rig.viewer.shown.size(), c.acquisitions / (c.hires ? 2 : 1));
        rig.expectOneMessage({"Exposure time", "99999999", "frame 1 of", "0.2 seconds"});
        EXPECT_EQ(rig.state.CaptureBusy, 0);
    }
}

TEST_F(BinnedRunErrorTest, AFileThatIsNoFrameIsRefusedAndItsRawCopyKept) {
    const QByteArray junk("this is not a frame");
    rig.services.acquisition.script.push_back(ScriptedAcquisition::Confirm(junk));
    rig.commands.binned();

    expectEndedWith({"line doubling", "temp.bmp"});
    EXPECT_EQ(rig.bytes("frame0x37.bmp"), CaptureRig::Bytes(junk));
    EXPECT_EQ(rig.bytes("temp.bmp"), CaptureRig::Bytes(junk));
    EXPECT_TRUE(rig.viewer.shown.empty());
}

TEST_F(BinnedRunErrorTest, ARawCopyThatCannotBeWrittenEndsTheRun) {
    std::filesystem::create_directory(rig.dir / "frame0x37.bmp");
    rig.commands.binned();

    expectEndedWith({"raw copy", "frame0x37.bmp"});
    EXPECT_TRUE(rig.viewer.shown.empty());
    // Not doubled: processing never started.
    const auto temp = rig.bytes("temp.bmp");
    EXPECT_EQ(temp, CaptureRig::Bytes(rig.services.acquisition.defaultFrame));
}

TEST_F(BinnedRunErrorTest, AnAutoSaveThatFailsEndsTheRunAndKeepsEarlierFrames) {
    rig.panel.text2 = QStringLiteral("0");
    rig.panel.text3 = QStringLiteral("3");
    rig.panel.check5 = 1;
    rig.services.acquisition.script = {
        ScriptedAcquisition::Confirm(), CaptureRig::WhileOpen([this] {
            rig.settings.SaveDir = (rig.dir / "no such directory").string();
        })};
    rig.commands.binned();

    expectEndedWith({"Frame 2 of 3", "saving", "no such directory"});
    EXPECT_EQ(rig.services.acquisition.calls.size(), 2U);
    EXPECT_TRUE(std::filesystem::exists(rig.saved("image001.bmp")));
    EXPECT_EQ(rig.savedCount(), 1U);
    EXPECT_EQ(rig.panel.text3, QStringLiteral(" 3"));
}

} // namespace
} // namespace lumenvale::test

namespace lumenvale::test {
namespace {

struct LinesFailureCase {
    const char* name;
    int writesBeforeFailure; // six line writes a frame: the second frame's start, or readout
    std::size_t acquisitions;
    bool focus = false; // a Focus frame instead of a run of three
};

class LinesFailureTest : public ::testing::TestWithParam<LinesFailureCase> {};

TEST_P(LinesFailureTest, AFailedLineWriteEndsTheRunWithoutKeepingItsFrame) {
    const LinesFailureCase& c = GetParam();
    CaptureRig r;
    r.panel.text3 = QStringLiteral("3");
    r.panel.check5 = 1;
    r.services.port.open = true;
    r.services.port.writesBeforeFailure = c.writesBeforeFailure;
    if (c.focus) {
        r.commands.focus();
        EXPECT_EQ(r.services.acquisition.calls.size(), c.acquisitions);
        EXPECT_EQ(r.state.CaptureBusy, 0);
        r.expectOneMessage(
            {"writing to the test adapter failed: No such device", "focus frame was not taken"});
        return;
    }
    r.commands.binned();

    EXPECT_EQ(r.services.acquisition.calls.size(), c.acquisitions);
    EXPECT_EQ(r.viewer.shown.size(), 1U) << "only the first frame is shown";
    EXPECT_EQ(r.savedCount(), 1U) << "and saved";
    r.expectOneMessage({"writing to the test adapter failed: No such device",
                        "Frame 2 of 3 was not kept", "frame 3 was not taken", "run was ended"});
    r.expectEnded(" 3", true);
}

INSTANTIATE_TEST_SUITE_P(Writes, LinesFailureTest,
                         ::testing::Values(LinesFailureCase{"AtTheFrameStart", 6, 1},
                                           LinesFailureCase{"AtTheReadout", 11, 2},
                                           LinesFailureCase{"AtAFocusFrame", 1, 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace lumenvale::test
