// The Control window on screen: its controls, its load and closing steps, its buttons, and
// closing it while a command is still waiting.
#include "support/FakeViewer.h"
#include "support/TempDirTest.h"
#include "support/TestServices.h"
#include "support/WindowControls.h"

#include "camera/LineStates.h"
#include "settings/SettingsFile.h"
#include "ui/Form1.h"
#include "ui/ProgramState.h"

#include <QCheckBox>
#include <QDialog>
#include <QFrame>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace lumenvale {
namespace {

class Form1Test : public test::TempDirTest {
protected:
    Form1Test() { picture.fill(Qt::darkBlue); }

    Form1& open() {
        window = std::make_unique<Form1>(program, services.services(), viewer, picture, dir);
        return *window;
    }

    template <typename T> T* control(const char* name) { return test::Control<T>(*window, name); }

    test::TestServices services;
    ProgramState program;
    test::FakeViewer viewer;
    QPixmap picture{8, 8};
    std::unique_ptr<Form1> window;
};

TEST_F(Form1Test, ControlsStandWhereTheWindowDefinitionPutsThem) {
    Form1& form = open();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Control"));
    EXPECT_EQ(form.size(), QSize(266, 197));
    test::ExpectPlaced(form, {
                                 {"Label1", "Exposure time", 120, 120, 1095, 375},
                                 {"Text2", "2", 1800, 120, 495, 285},
                                 {"Label2", "Number of Images", 120, 720, 1335, 255},
                                 {"Text3", "1", 1800, 720, 495, 285},
                                 {"ProgressBar1", nullptr, 120, 1200, 2535, 255},
                                 {"Check6", "", 120, 1680, 255, 375},
                                 {"Label3", "De interlace", 360, 1800, 855, 255},
                                 {"Check4", "", 1440, 1680, 255, 375},
                                 {"Label4", "Amp off", 1800, 1800, 855, 255},
                                 {"Check5", "", 120, 2280, 255, 375},
                                 {"Label5", "Save", 360, 2400, 735, 255},
                                 {"Text4", "image", 1080, 2280, 1575, 285},
                                 {"Line1", nullptr, 2760, 120, 15, 2640},
                                 {"Command1", "Focus", 2880, 120, 975, 495},
                                 {"Command2", "2x1 Binned", 2880, 840, 975, 495},
                                 {"Command3", "Hi-res", 2880, 1560, 975, 495},
                                 {"Command4", "Stop", 2880, 2280, 975, 495},
                             });
    EXPECT_EQ(control<QFrame>("Line1")->frameShape(), QFrame::VLine);
}

TEST_F(Form1Test, StartsWithStopDisabledBoxesClearAndTheBarAtZeroOfTen) {
    Form1& form = open();
    EXPECT_FALSE(control<QPushButton>("Command4")->isEnabled());
    for (const char* name : {"Command1", "Command2", "Command3"}) {
        EXPECT_TRUE(control<QPushButton>(name)->isEnabled()) << name;
    }
    for (const char* name : {"Check4", "Check5", "Check6"}) {
        EXPECT_EQ(control<QCheckBox>(name)->checkState(), Qt::Unchecked) << name;
    }
    auto* bar = control<QProgressBar>("ProgressBar1");
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 10);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(form.hwnd(), &form);
}

TEST_F(Form1Test, TabGoesThroughTheControlsThatTakeFocusInTheWindowsOrder) {
    Form1& form = open();
    EXPECT_EQ(test::TabOrder(form, "Command1"),
              (std::vector<std::string>{"Command1", "Command2", "Command3", "Check4", "Text2",
                                        "Text3", "Check5", "Text4", "Check6", "Command4"}));
    for (const char* name : {"Label1", "Label2", "Label3", "Label4", "Label5", "ProgressBar1"}) {
        EXPECT_EQ(control<QWidget>(name)->focusPolicy(), Qt::NoFocus) << name;
    }
}

TEST_F(Form1Test, LoadReadsTheSettingsDropsThePictureIfPlainAndOpensThePortWithZero) {
    SaveSettings(dir / "config.dat", Settings{2, "/data/frames", 1});
    program.capture.CaptureBusy = 1;
    program.capture.PortState = LineReadout;
    Form1& form = open();

    EXPECT_EQ(program.settings, (Settings{2, "/data/frames", 1}));
    EXPECT_TRUE(form.hasBackground());
    EXPECT_EQ(program.capture.CaptureBusy, 0);
    EXPECT_EQ(program.capture.PortState, 0);
    EXPECT_EQ(services.port.log, (std::vector<std::string>{"init 1", "write 0x00"}));
    EXPECT_TRUE(services.messages.texts.isEmpty());

    SaveSettings(dir / "config.dat", Settings{1, "/data/frames", 2});
    EXPECT_FALSE(open().hasBackground()) << "plain windows";
}

TEST_F(Form1Test, APortThatWillNotOpenIsReportedOnceAndZeroIsStillWritten) {
    services.port.initFailures = 2;
    open();
    ASSERT_EQ(services.messages.texts.size(), 1);
    EXPECT_TRUE(services.messages.texts[0].startsWith(QStringLiteral("not initialised")));
    EXPECT_EQ(services.port.initCalls, 2);
    ASSERT_FALSE(services.port.log.empty());
    EXPECT_EQ(services.port.log.back(), "write 0x00");
    EXPECT_EQ(control<QProgressBar>("ProgressBar1")->maximum(), 10);
}

TEST_F(Form1Test, ClosingAsksTheOtherWindowsThenClosesThePortAndLeavesTheLinesAlone) {
    Form1& form = open();
    form.show();
    program.ControlShown = 1;
    services.port.shutdownFailures = 1;
    std::vector<std::string> steps;
    const auto port = [&] { return services.port.open ? "port open" : "port closed"; };
    QObject::connect(&form, &Form1::viewerCloseRequested,
                     [&] { steps.push_back(std::string("viewer, ") + port()); });
    QObject::connect(&form, &Form1::settingsCloseRequested,
                     [&] { steps.push_back(std::string("settings, ") + port()); });
    QObject::connect(&form, &Form1::closed, [&] {
        steps.push_back(std::string("closed, ") + port() + ", shown " +
                        std::to_string(program.ControlShown));
    });
    const std::size_t writes = services.port.writes.size();

    EXPECT_TRUE(form.close());
    EXPECT_EQ(steps, (std::vector<std::string>{"viewer, port open", "settings, port open",
                                               "closed, port closed, shown 0"}));
    EXPECT_EQ(services.port.shutdownCalls, 2);
    EXPECT_EQ(services.port.writes.size(), writes);
    EXPECT_EQ(services.acquisition.closeSourceCalls, 1) << "the webcam stream ends with it";

    // A second request finds the steps done.
    form.show();
    EXPECT_TRUE(form.close());
    EXPECT_EQ(steps.size(), 3U);
}

TEST_F(Form1Test, BoxesAndBarAsTheCommandsSeeThem) {
    Form1& form = open();
    control<QCheckBox>("Check4")->setChecked(true);
    control<QCheckBox>("Check6")->setTristate(true);
    control<QCheckBox>("Check6")->setCheckState(Qt::PartiallyChecked);
    EXPECT_EQ(form.Check4(), 1);
    EXPECT_EQ(form.Check5(), 0);
    EXPECT_EQ(form.Check6(), 2);

    auto* bar = control<QProgressBar>("ProgressBar1");
    form.setProgressMax(2e9F);
    EXPECT_GT(bar->maximum(), 1'900'000'000);
    form.setProgressValue(3e9F);
    EXPECT_EQ(bar->value(), bar->maximum());
    form.setProgressMax(0.0F);
    EXPECT_GE(bar->maximum(), 1) << "no endless busy bar for an exposure of 0";
    form.setProgressValue(-5.0F);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(Form1Test, ButtonsRunTheCommands) {
    Form1& form = open();
    control<QLineEdit>("Text2")->setText(QStringLiteral("0.05"));
    control<QLineEdit>("Text3")->setText(QStringLiteral("2"));
    test::ScriptedAcquisition::Step stop = test::ScriptedAcquisition::Confirm();
    stop.whileOpen = [this](QDialog&) { control<QPushButton>("Command4")->click(); };
    services.acquisition.script.push_back(stop);

    control<QPushButton>("Command2")->click();
    EXPECT_EQ(services.acquisition.calls.size(), 1U);
    EXPECT_EQ(viewer.shown.size(), 1U);
    EXPECT_EQ(control<QLineEdit>("Text3")->text(), QStringLiteral(" 2"));
    EXPECT_FALSE(control<QPushButton>("Command4")->isEnabled());
    EXPECT_EQ(control<QProgressBar>("ProgressBar1")->value(), 0);

    control<QPushButton>("Command3")->click();
    EXPECT_EQ(services.acquisition.calls.size(), 5U);
    EXPECT_TRUE(control<QPushButton>("Command4")->isEnabled());

    test::ScriptedAcquisition::Step focus;
    focus.whileOpen = [](QDialog& dialog) { dialog.accept(); };
    services.acquisition.script.push_back(focus);
    control<QPushButton>("Command1")->click();
    EXPECT_EQ(services.acquisition.calls.size(), 6U);
    EXPECT_EQ(services.lines.states().back(), LineReadout);
    EXPECT_EQ(form.Text3(), QStringLiteral(" 2"));
}

// ---- Closing while a command waits (the whole program: ProgramWindowsTest) ----

// A capture's dialog is confirmed by its readout timer instead (the windows' closing table).
TEST_F(Form1Test, ClosingWhileTheFocusDialogIsOpenCancelsIt) {
    Form1& form = open();
    form.show();
    QSignalSpy closed(&form, &Form1::closed);
    // Closed before the user confirms the dialog; no timer would.
    test::ScriptedAcquisition::Step open = test::ScriptedAcquisition::Confirm();
    open.whileOpen = [&](QDialog&) { form.close(); };
    services.acquisition.script.push_back(open);

    control<QPushButton>("Command1")->click();
    EXPECT_TRUE(closed.count() > 0 || closed.wait(5000));
    ASSERT_EQ(services.acquisition.calls.size(), 1U);
    EXPECT_EQ(services.acquisition.calls[0].result, AcquireCancelled);
    EXPECT_FALSE(services.acquisition.calls[0].timedOut);
    EXPECT_TRUE(services.messages.texts.isEmpty());
    EXPECT_EQ(program.capture.CaptureBusy, 0);
    EXPECT_EQ(services.port.log.back(), "shutdown 1");
}

} // namespace
} // namespace lumenvale
