// The three windows together: Camera > Control and the Settings command, the closing orders of
// the viewer and the Control window with the Settings window open, plain windows at the
// Settings window's close, with and without a capture running.
#include "support/ScriptedFileDialogs.h"
#include "support/TempDirTest.h"
#include "support/TestServices.h"
#include "support/WindowControls.h"

#include "acquisition/Acquisition.h"
#include "camera/LineStates.h"
#include "platform/Pictures.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/Form3.h"
#include "ui/Program.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace lumenvale {
namespace {

namespace fs = std::filesystem;
using test::Control;

QStringList visibleWindows() {
    QStringList names;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible()) {
            names << widget->windowTitle();
        }
    }
    return names;
}

::testing::AssertionResult noWindowLeft() {
    const QStringList left = visibleWindows();
    if (left.isEmpty()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "still shown: " << left.join(", ").toStdString();
}

class ProgramWindowsTest : public test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        make("config.dat", configWith(1, 1));
        program = std::make_unique<Program>(services.services(), dialogs, dir);
        program->show();
    }

    ~ProgramWindowsTest() override {
        program.reset();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::string config() const { return read(dir / "config.dat"); }
    std::string configWith(int order, int plain) const {
        std::ostringstream text;
        text << ' ' << order << " \r\n" << dir.string() << "\r\n " << plain << " \r\n";
        return text.str();
    }

    void menu(const char* command) {
        program->viewer().findChild<QAction*>(QString::fromLatin1(command))->trigger();
    }
    Form3& openSettings() {
        menu("Settings");
        EXPECT_NE(program->settings(), nullptr);
        return *program->settings();
    }

    // Camera > Control, then Settings with `click` clicked in it; what the Settings window's
    // closing finds is kept in `atSettingsClose`.
    Form1& openAllThree(const char* click) {
        menu("Control");
        Form1& control = *program->control();
        EXPECT_TRUE(control.isVisible());
        Form3& settings = openSettings();
        Control<QAbstractButton>(settings, click)->click();
        QObject::connect(&settings, &Form3::closed, [this] {
            atSettingsClose =
                SettingsClose{program->state().capture.CaptureBusy, services.port.open};
        });
        return control;
    }

    // Starts "2x1 Binned" for five frames of a minute and runs `meanwhile` as soon as the first
    // exposure has begun, from the event loop the run pumps.
    void runBinnedAnd(Form1& control, std::function<void()> meanwhile) {
        Control<QLineEdit>(control, "Text2")->setText(QStringLiteral("60"));
        Control<QLineEdit>(control, "Text3")->setText(QStringLiteral("5"));
        Control<QCheckBox>(control, "Check4")->setChecked(true);
        const int id = services.lines.subscribe([&](const LineWrite& write) {
            if (write.state == LineExposeAmpOff) {
                QTimer::singleShot(0, &program->viewer(), meanwhile);
            }
        });
        QElapsedTimer clock;
        clock.start();
        Control<QPushButton>(control, "Command2")->click();
        services.lines.unsubscribe(id);
        EXPECT_LT(clock.elapsed(), 5000) << "the run ended at once";
    }

    void leaveWithPlainWindowsTicked(void (*leave)(Program&));

    struct SettingsClose {
        int busy;
        bool portOpen;
    };
    std::optional<SettingsClose> atSettingsClose;
    test::TestServices services;
    test::ScriptedFileDialogs dialogs;
    std::unique_ptr<Program> program;
};

TEST_F(ProgramWindowsTest, SettingsIsBroughtForwardWhileOpenAndCreatedAfreshAfterAClose) {
    Form3& first = openSettings();
    EXPECT_TRUE(first.isVisible());
    QSignalSpy firstClosed(&first, &Form3::closed);
    menu("Settings");
    EXPECT_EQ(program->settings(), &first);
    EXPECT_EQ(visibleWindows().count(QStringLiteral("Settings")), 1);

    Control<QRadioButton>(first, "Option2")->click();
    first.close();
    EXPECT_EQ(firstClosed.count(), 1);
    EXPECT_EQ(program->settings(), nullptr);
    EXPECT_EQ(config(), configWith(2, 1));

    // The new window shows what memory holds now, not what the old one showed.
    program->state().settings.DeinterlaceOrder = 1;
    program->state().settings.PlainWindows = 2;
    Form3& second = openSettings();
    EXPECT_TRUE(second.isVisible());
    EXPECT_TRUE(Control<QRadioButton>(second, "Option1")->isChecked());
    EXPECT_TRUE(Control<QCheckBox>(second, "Check1")->isChecked());
    EXPECT_FALSE(second.hasBackground());
    EXPECT_EQ(visibleWindows().count(QStringLiteral("Settings")), 1);
}

TEST_F(ProgramWindowsTest, ClosingTheViewerClosesControlAndSettingsThenThePortNothingIsLeft) {
    Form1& control = openAllThree("Option2");

    menu("Exit");

    ASSERT_TRUE(atSettingsClose);
    EXPECT_TRUE(atSettingsClose->portOpen) << "port access is closed last";
    EXPECT_EQ(services.port.log.back(), "shutdown 1");
    EXPECT_FALSE(control.isVisible());
    EXPECT_EQ(program->settings(), nullptr);
    EXPECT_EQ(config(), configWith(2, 1));
    EXPECT_EQ(program->state().ControlShown, 0);
    EXPECT_TRUE(noWindowLeft());
}

TEST_F(ProgramWindowsTest, ClosingTheControlWindowClosesTheViewerAndSettingsThenThePort) {
    Form1& control = openAllThree("Check1");

    EXPECT_TRUE(control.close());

    ASSERT_TRUE(atSettingsClose);
    EXPECT_TRUE(atSettingsClose->portOpen);
    EXPECT_EQ(services.port.log.back(), "shutdown 1");
    EXPECT_EQ(services.port.initCalls, 1) << "no second Control window";
    EXPECT_FALSE(program->viewer().isVisible());
    EXPECT_EQ(program->settings(), nullptr);
    EXPECT_EQ(config(), configWith(1, 2));
    EXPECT_FALSE(control.hasBackground());
    EXPECT_FALSE(program->viewer().hasBackground());
    EXPECT_TRUE(noWindowLeft());
}

TEST_F(ProgramWindowsTest, AfterAFailedSaveTheControlWindowKeepsTheSettingsInMemory) {
    const struct {
        const char* what;
        bool plainWindows;  // ticked too, so the Settings window's close creates the Control one
        bool savedLater;    // a second Settings window saves, then the file is edited
        Settings atControl; // what the Control window's load leaves in memory
    } cases[] = {
        {"the save failed", false, false, {2, dir.string(), 1}},
        {"the save failed, plain windows", true, false, {2, dir.string(), 2}},
        {"a later save succeeded", false, true, {1, "/edited", 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        program.reset();
        make("config.dat", configWith(1, 1));
        fs::permissions(dir / "config.dat", fs::perms::owner_read);
        services.messages.texts.clear();
        program = std::make_unique<Program>(services.services(), dialogs, dir);

        Form3& settings = openSettings();
        Control<QAbstractButton>(settings, "Option2")->click();
        if (c.plainWindows) {
            Control<QAbstractButton>(settings, "Check1")->click();
        }
        settings.close();
        ASSERT_EQ(services.messages.texts.size(), 1);
        EXPECT_TRUE(services.messages.texts[0].contains(QStringLiteral("stay in use")));
        EXPECT_EQ(config(), configWith(1, 1));
        if (c.savedLater) {
            fs::permissions(dir / "config.dat", fs::perms::owner_read | fs::perms::owner_write);
            openSettings().close();
            EXPECT_EQ(config(), configWith(2, 1));
            make("config.dat", " 1 \r\n/edited\r\n 1 \r\n");
        }

        menu("Control");
        EXPECT_EQ(program->state().settings, c.atControl);
        EXPECT_EQ(services.messages.texts.size(), 1U);
        fs::permissions(dir / "config.dat", fs::perms::owner_read | fs::perms::owner_write);
    }
}

TEST_F(ProgramWindowsTest, PlainWindowsBeforeAnyControlWindowCreateItHiddenForLater) {
    Form3& settings = openSettings();
    Control<QCheckBox>(settings, "Check1")->click();
    Control<QPushButton>(settings, "Command1")->click();

    EXPECT_EQ(config(), configWith(1, 2));
    EXPECT_FALSE(program->viewer().hasBackground());
    ASSERT_NE(program->control(), nullptr);
    Form1& control = *program->control();
    EXPECT_FALSE(control.isVisible());
    EXPECT_FALSE(control.hasBackground());
    EXPECT_TRUE(services.port.open) << "its load steps ran";
    EXPECT_EQ(program->state().ControlShown, 0);
    EXPECT_EQ(visibleWindows(), QStringList{QStringLiteral("Lumenvale")});

    menu("Control");
    EXPECT_EQ(program->control(), &control);
    EXPECT_TRUE(control.isVisible());
    EXPECT_EQ(services.port.initCalls, 1);

    menu("Exit");
    EXPECT_FALSE(services.port.open);
    EXPECT_TRUE(noWindowLeft());
}

TEST_F(ProgramWindowsTest, PlainWindowsWithTheControlWindowOpenDropBothPictures) {
    ASSERT_TRUE(program->viewer().hasBackground());
    Form1& control = openAllThree("Check1");
    ASSERT_TRUE(control.hasBackground());
    program->settings()->close();

    EXPECT_FALSE(control.hasBackground());
    EXPECT_FALSE(program->viewer().hasBackground());
    EXPECT_EQ(program->control(), &control);
    EXPECT_EQ(services.port.initCalls, 1);

    // Unticked again: the pictures stay away until the windows are created anew.
    Form3& again = openSettings();
    Control<QCheckBox>(again, "Check1")->click();
    again.close();
    EXPECT_EQ(config(), configWith(1, 1));
    EXPECT_FALSE(control.hasBackground());
    EXPECT_FALSE(program->viewer().hasBackground());
}

// The Settings window's last step would create the Control window here; at the program's end
// that window would stay, hidden, and keep the process going.
void ProgramWindowsTest::leaveWithPlainWindowsTicked(void (*leave)(Program&)) {
    Form3& settings = openSettings();
    Control<QCheckBox>(settings, "Check1")->click();

    leave(*program);

    EXPECT_EQ(program->control(), nullptr);
    EXPECT_EQ(services.port.initCalls, 0);
    EXPECT_FALSE(program->viewer().hasBackground());
    EXPECT_EQ(config(), configWith(1, 2));
    EXPECT_TRUE(noWindowLeft());
}

TEST_F(ProgramWindowsTest, ExitWithPlainWindowsTickedCreatesNoControlWindow) {
    leaveWithPlainWindowsTicked(
        [](Program& p) { p.viewer().findChild<QAction*>(QStringLiteral("Exit"))->trigger(); });
}

TEST_F(ProgramWindowsTest, TheViewersCloseBoxWithPlainWindowsTickedCreatesNoControlWindow) {
    leaveWithPlainWindowsTicked([](Program& p) { p.viewer().close(); });
}

TEST_F(ProgramWindowsTest, ClosingTheViewerDuringACaptureClosesSettingsAtOnceControlAfterTheRun) {
    Form1& control = openAllThree("Option2");
    QSignalSpy controlClosed(&control, &Form1::closed);

    runBinnedAnd(control, [this] { program->viewer().close(); });
    EXPECT_TRUE(controlClosed.count() > 0 || controlClosed.wait(5000));

    ASSERT_TRUE(atSettingsClose);
    EXPECT_EQ(atSettingsClose->busy, 1) << "Settings closed while the run still waited";
    EXPECT_TRUE(atSettingsClose->portOpen);
    EXPECT_EQ(config(), configWith(2, 1));
    EXPECT_EQ(program->state().capture.CaptureBusy, 0);
    EXPECT_EQ(program->state().ControlShown, 0);
    EXPECT_EQ(control.Text3(), QStringLiteral(" 5"));
    EXPECT_EQ(services.port.log.back(), "shutdown 1");
    EXPECT_EQ(services.acquisition.calls.size(), 1U) << "the frame was read out";
    EXPECT_TRUE(noWindowLeft());
}

TEST_F(ProgramWindowsTest, ClosingTheControlWindowDuringACaptureEndsTheRunThenEverything) {
    Form1& control = openAllThree("Check1");
    QSignalSpy controlClosed(&control, &Form1::closed);

    runBinnedAnd(control, [&control] { EXPECT_FALSE(control.close()) << "not while it waits"; });
    EXPECT_EQ(controlClosed.count(), 0) << "not while the click is still on the stack";
    EXPECT_TRUE(controlClosed.wait(5000));

    ASSERT_TRUE(atSettingsClose);
    EXPECT_EQ(atSettingsClose->busy, 0) << "the Control window closes once its run has ended";
    EXPECT_TRUE(atSettingsClose->portOpen);
    EXPECT_EQ(config(), configWith(1, 2));
    EXPECT_EQ(program->state().capture.CaptureBusy, 0);
    EXPECT_EQ(control.Text3(), QStringLiteral(" 5"));
    EXPECT_EQ(services.acquisition.calls.size(), 1U);
    EXPECT_TRUE(services.messages.texts.isEmpty());
    EXPECT_EQ(services.timers.activeCount(), 0U);
    EXPECT_EQ(services.port.log.back(), "shutdown 1");
    EXPECT_EQ(services.port.initCalls, 1);
    EXPECT_FALSE(program->viewer().hasBackground());
    EXPECT_TRUE(noWindowLeft());
}

TEST_F(ProgramWindowsTest, ClosingSettingsDuringACaptureLeavesTheRunGoing) {
    Form1& control = openAllThree("Option2");
    Form3& settings = *program->settings();
    Control<QLineEdit>(control, "Text2")->setText(QStringLiteral("0"));
    const int id = services.lines.subscribe([&](const LineWrite& write) {
        if (write.state == LineExposeAmpOn) {
            QTimer::singleShot(0, &settings, [&settings] { settings.close(); });
        }
    });
    Control<QPushButton>(control, "Command2")->click();
    services.lines.unsubscribe(id);

    ASSERT_TRUE(atSettingsClose);
    EXPECT_EQ(atSettingsClose->busy, 1);
    EXPECT_EQ(config(), configWith(2, 1));
    EXPECT_EQ(services.acquisition.calls.size(), 1U) << "the frame was still taken";
    EXPECT_TRUE(control.isVisible());
    EXPECT_TRUE(program->viewer().isVisible());
    EXPECT_TRUE(services.port.open);
}

// ---- Closing during a capture keeps the frame in progress ----

enum class CloseAt { SettleWait, ExposureWait, FirstAcquisition, SecondAcquisition };

struct ClosingCase {
    const char* name;
    const char* button; // Command2 ("2x1 Binned") or Command3 ("Hi-res")
    CloseAt at;
    bool byViewer; // closed by the viewer rather than by the Control window
    std::vector<std::uint8_t> lines;
    std::size_t acquisitions;
};

void PrintTo(const ClosingCase& c, std::ostream* out) {
    *out << c.name;
}

class ClosingDuringACaptureTest : public ProgramWindowsTest,
                                  public ::testing::WithParamInterface<ClosingCase> {};

TEST_P(ClosingDuringACaptureTest, KeepsTheFrameLeavesTheLinesAtReadoutAndClosesThePortLast) {
    const ClosingCase& c = GetParam();
    Form1& control = openAllThree("Option2");
    QSignalSpy controlClosed(&control, &Form1::closed);
    const bool inAWait = c.at == CloseAt::SettleWait || c.at == CloseAt::ExposureWait;
    // A wait the close does not cut short is not waited out.
    Control<QLineEdit>(control, "Text2")->setText(inAWait ? QStringLiteral("60") : QString());
    Control<QLineEdit>(control, "Text3")->setText(QStringLiteral("5"));
    Control<QCheckBox>(control, "Check4")->setChecked(true);
    Control<QCheckBox>(control, "Check5")->setChecked(true);
    const auto closeNow = [&] { c.byViewer ? program->viewer().close() : control.close(); };

    // In a wait, the close comes at the first event after the write that begins it; in an
    // acquisition, as soon as its dialog is open, before the readout timer has ticked.
    bool asked = false;
    const std::uint8_t begins = c.at == CloseAt::SettleWait ? LineReadout : LineExposeAmpOff;
    const int id = services.lines.subscribe([&](const LineWrite& write) {
        if (inAWait && !asked && write.state == begins) {
            asked = true;
            QTimer::singleShot(0, &program->viewer(), closeNow);
        }
    });
    if (c.at == CloseAt::SecondAcquisition) {
        services.acquisition.script.push_back(test::ScriptedAcquisition::Confirm());
    }
    test::ScriptedAcquisition::Step closing = test::ScriptedAcquisition::Confirm();
    if (!inAWait) {
        closing.whileOpen = [&](QDialog&) { closeNow(); };
    }
    services.acquisition.script.push_back(closing);
    services.lines.clearHistory();

    Control<QPushButton>(control, c.button)->click();
    services.lines.unsubscribe(id);
    ASSERT_TRUE(controlClosed.count() > 0 || controlClosed.wait(5000)) << "never closed";

    EXPECT_EQ(services.lines.states(), c.lines);
    ASSERT_EQ(services.acquisition.calls.size(), c.acquisitions);
    for (const auto& call : services.acquisition.calls) {
        EXPECT_EQ(call.result, AcquireOk) << "confirmed by the readout timer, not cancelled";
    }
    // Stopped in frame 1 of 5, the frame is saved as number 6.
    const bool kept = c.acquisitions > 0;
    ASSERT_EQ(fs::exists(dir / "image006.bmp"), kept);
    if (kept) {
        const QImage shown = LoadPicture(dir / "temp.bmp").convertToFormat(QImage::Format_RGB888);
        EXPECT_EQ(LoadPicture(dir / "image006.bmp").convertToFormat(QImage::Format_RGB888), shown);
        EXPECT_EQ(program->viewer().Picture().convertToFormat(QImage::Format_RGB888), shown);
    }
    EXPECT_TRUE(services.messages.texts.isEmpty())
        << services.messages.texts.join('|').toStdString();
    EXPECT_EQ(program->state().capture.CaptureBusy, 0);
    EXPECT_EQ(services.timers.activeCount(), 0U);
    ASSERT_TRUE(atSettingsClose);
    EXPECT_TRUE(atSettingsClose->portOpen) << "port access is closed last";
    ASSERT_GE(services.port.log.size(), 2U);
    EXPECT_EQ(services.port.log.back(), "shutdown 1");
    EXPECT_EQ(services.port.log[services.port.log.size() - 2], "write 0x37");
    EXPECT_TRUE(noWindowLeft());
}

INSTANTIATE_TEST_SUITE_P(
    EveryWait, ClosingDuringACaptureTest,
    ::testing::Values(
        ClosingCase{"BinnedSettle", "Command2", CloseAt::SettleWait, false, {0x27, 0x37}, 0},
        ClosingCase{"BinnedExposure",
                    "Command2",
                    CloseAt::ExposureWait,
                    true,
                    {0x27, 0x37, 0x14, 0x34, 0x30, 0x37},
                    1},
        ClosingCase{"BinnedAcquisition",
                    "Command2",
                    CloseAt::FirstAcquisition,
                    false,
                    {0x27, 0x37, 0x14, 0x34, 0x30, 0x37},
                    1},
        ClosingCase{"HiresSettle", "Command3", CloseAt::SettleWait, true, {0x27, 0x37}, 0},
        ClosingCase{"HiresExposure",
                    "Command3",
                    CloseAt::ExposureWait,
                    false,
                    {0x27, 0x37, 0x14, 0x34, 0x30, 0x35, 0x37},
                    2},
        ClosingCase{"HiresFirstField",
                    "Command3",
                    CloseAt::FirstAcquisition,
                    true,
                    {0x27, 0x37, 0x14, 0x34, 0x30, 0x35, 0x37},
                    2},
        ClosingCase{"HiresSecondField",
                    "Command3",
                    CloseAt::SecondAcquisition,
                    false,
                    {0x27, 0x37, 0x14, 0x34, 0x30, 0x35, 0x37},
                    2}),
    [](const ::testing::TestParamInfo<ClosingCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace lumenvale
