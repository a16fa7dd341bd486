// The three windows together: the Settings command, the closing orders of the viewer and the
// Control window with the Settings window open, plain windows at the Settings window's close,
// with and without a capture running.
#include "support/ScriptedFileDialogs.h"
#include "support/SettingsPrinting.h"
#include "support/TestServices.h"

#include "camera/LineStates.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/Form3.h"
#include "ui/Program.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace lumenvale {
namespace {

namespace fs = std::filesystem;

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

QStringList visibleWindows() {
    QStringList names;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible()) {
            names << widget->windowTitle();
        }
    }
    return names;
}

class ProgramWindowsTest : public ::testing::Test {
protected:
    ProgramWindowsTest() {
        std::ofstream(config(), std::ios::binary) << " 1 \r\n" << root().string() << "\r\n 1 \r\n";
        program = std::make_unique<Program>(services.services(), dialogs, root());
        program->Show();
    }

    ~ProgramWindowsTest() override {
        program.reset();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    fs::path root() const { return fs::path(dir.path().toStdString()); }
    fs::path config() const { return root() / "config.dat"; }
    std::string configWith(int order, int plain) const {
        return " " + std::to_string(order) + " \r\n" + root().string() + "\r\n " +
               std::to_string(plain) + " \r\n";
    }

    void menu(const char* command) {
        program->viewer().findChild<QAction*>(QString::fromLatin1(command))->trigger();
    }
    Form3& openSettings() {
        menu("Settings");
        EXPECT_NE(program->settings(), nullptr);
        return *program->settings();
    }
    template <typename T> T* in(QWidget& window, const char* name) {
        T* found = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    // Starts "2x1 Binned" with a minute's exposure and runs `meanwhile` as soon as the
    // exposure has begun, from the event loop the run pumps.
    void runBinnedAnd(Form1& control, std::function<void()> meanwhile) {
        in<QLineEdit>(control, "Text2")->setText(QStringLiteral("60"));
        in<QCheckBox>(control, "Check4")->setChecked(true);
        const int id = services.lines.subscribe([&](const LineWrite& write) {
            if (write.state == LineExposeAmpOff) {
                QTimer::singleShot(0, &program->viewer(), meanwhile);
            }
        });
        in<QPushButton>(control, "Command2")->click();
        services.lines.unsubscribe(id);
    }

    void leaveWithPlainWindowsTicked(void (*leave)(Program&));

    QTemporaryDir dir;
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

    in<QRadioButton>(first, "Option2")->click();
    first.close();
    EXPECT_EQ(firstClosed.count(), 1);
    EXPECT_EQ(program->settings(), nullptr);
    EXPECT_EQ(readBytes(config()), configWith(2, 1));

    // The new window shows what memory holds now, not what the old one showed.
    program->state().settings.DeinterlaceOrder = 1;
    program->state().settings.PlainWindows = 2;
    Form3& second = openSettings();
    EXPECT_TRUE(second.isVisible());
    EXPECT_TRUE(in<QRadioButton>(second, "Option1")->isChecked());
    EXPECT_TRUE(in<QCheckBox>(second, "Check1")->isChecked());
    EXPECT_FALSE(second.hasBackground());
    EXPECT_EQ(visibleWindows().count(QStringLiteral("Settings")), 1);
}

TEST_F(ProgramWindowsTest, ClosingTheViewerClosesControlThenSettingsAndNothingIsLeft) {
    menu("Control");
    Form1& control = *program->control();
    Form3& settings = openSettings();
    in<QRadioButton>(settings, "Option2")->click();
    bool portOpenAtSettingsClose = true;
    QObject::connect(&settings, &Form3::closed,
                     [&] { portOpenAtSettingsClose = services.port.open; });

    menu("Exit");

    EXPECT_FALSE(portOpenAtSettingsClose) << "the Control window closes first";
    EXPECT_EQ(services.port.log.back(), "shutdown 1");
    EXPECT_FALSE(control.isVisible());
    EXPECT_EQ(program->settings(), nullptr);
    EXPECT_EQ(readBytes(config()), configWith(2, 1));
    EXPECT_EQ(program->state().ControlShown, 0);
    EXPECT_TRUE(visibleWindows().isEmpty()) << visibleWindows().join(", ").toStdString();
}

TEST_F(ProgramWindowsTest, ClosingTheControlWindowClosesThePortThenTheViewerAndSettings) {
    menu("Control");
    Form1& control = *program->control();
    Form3& settings = openSettings();
    in<QCheckBox>(settings, "Check1")->click();
    bool portOpenAtSettingsClose = true;
    QObject::connect(&settings, &Form3::closed,
                     [&] { portOpenAtSettingsClose = services.port.open; });

    EXPECT_TRUE(control.close());

    EXPECT_FALSE(portOpenAtSettingsClose);
    EXPECT_EQ(services.port.initCalls, 1) << "no second Control window";
    EXPECT_FALSE(program->viewer().isVisible());
    EXPECT_EQ(program->settings(), nullptr);
    EXPECT_EQ(readBytes(config()), configWith(1, 2));
    EXPECT_FALSE(control.hasBackground());
    EXPECT_FALSE(program->viewer().hasBackground());
    EXPECT_TRUE(visibleWindows().isEmpty()) << visibleWindows().join(", ").toStdString();
}

TEST_F(ProgramWindowsTest, PlainWindowsBeforeAnyControlWindowCreateItHiddenForLater) {
    Form3& settings = openSettings();
    in<QCheckBox>(settings, "Check1")->click();
    in<QPushButton>(settings, "Command1")->click();

    EXPECT_EQ(readBytes(config()), configWith(1, 2));
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
    EXPECT_TRUE(visibleWindows().isEmpty());
}

TEST_F(ProgramWindowsTest, PlainWindowsWithTheControlWindowOpenDropBothPictures) {
    menu("Control");
    Form1& control = *program->control();
    ASSERT_TRUE(control.hasBackground());
    Form3& settings = openSettings();
    in<QCheckBox>(settings, "Check1")->click();
    settings.close();

    EXPECT_FALSE(control.hasBackground());
    EXPECT_FALSE(program->viewer().hasBackground());
    EXPECT_EQ(program->control(), &control);
    EXPECT_EQ(services.port.initCalls, 1);

    // Unticked again: the pictures stay away until the windows are created anew.
    Form3& again = openSettings();
    in<QCheckBox>(again, "Check1")->click();
    again.close();
    EXPECT_EQ(readBytes(config()), configWith(1, 1));
    EXPECT_FALSE(control.hasBackground());
    EXPECT_FALSE(program->viewer().hasBackground());
}

// The Settings window's last step would create the Control window here; at the program's end
// that window would stay, hidden, and keep the process going.
void ProgramWindowsTest::leaveWithPlainWindowsTicked(void (*leave)(Program&)) {
    Form3& settings = openSettings();
    in<QCheckBox>(settings, "Check1")->click();

    leave(*program);

    EXPECT_EQ(program->control(), nullptr);
    EXPECT_EQ(services.port.initCalls, 0);
    EXPECT_FALSE(program->viewer().hasBackground());
    EXPECT_EQ(readBytes(config()), configWith(1, 2));
    EXPECT_TRUE(visibleWindows().isEmpty()) << visibleWindows().join(", ").toStdString();
}

TEST_F(ProgramWindowsTest, ExitWithPlainWindowsTickedCreatesNoControlWindow) {
    leaveWithPlainWindowsTicked(
        [](Program& p) { p.viewer().findChild<QAction*>(QStringLiteral("Exit"))->trigger(); });
}

TEST_F(ProgramWindowsTest, TheViewersCloseBoxWithPlainWindowsTickedCreatesNoControlWindow) {
    leaveWithPlainWindowsTicked([](Program& p) { p.viewer().close(); });
}

TEST_F(ProgramWindowsTest, ClosingTheViewerDuringACaptureClosesSettingsAtOnceControlAfterTheRun) {
    menu("Control");
    Form1& control = *program->control();
    Form3& settings = openSettings();
    in<QRadioButton>(settings, "Option2")->click();
    QSignalSpy controlClosed(&control, &Form1::closed);
    int busyAtSettingsClose = -1;
    bool portOpenAtSettingsClose = false;
    QObject::connect(&settings, &Form3::closed, [&] {
        busyAtSettingsClose = program->state().capture.CaptureBusy;
        portOpenAtSettingsClose = services.port.open;
    });

    runBinnedAnd(control, [this] { program->viewer().close(); });
    EXPECT_TRUE(controlClosed.count() > 0 || controlClosed.wait(5000));

    EXPECT_EQ(busyAtSettingsClose, 1) << "Settings closed while the run still waited";
    EXPECT_TRUE(portOpenAtSettingsClose);
    EXPECT_EQ(readBytes(config()), configWith(2, 1));
    EXPECT_EQ(program->state().capture.CaptureBusy, 0);
    EXPECT_EQ(services.port.log.back(), "shutdown 1");
    EXPECT_TRUE(services.acquisition.calls.empty()) << "the frame was not read out";
    EXPECT_TRUE(visibleWindows().isEmpty()) << visibleWindows().join(", ").toStdString();
}

TEST_F(ProgramWindowsTest, ClosingTheControlWindowDuringACaptureEndsTheRunThenEverything) {
    menu("Control");
    Form1& control = *program->control();
    Form3& settings = openSettings();
    in<QCheckBox>(settings, "Check1")->click();
    QSignalSpy controlClosed(&control, &Form1::closed);
    int busyAtSettingsClose = -1;
    bool portOpenAtSettingsClose = true;
    QObject::connect(&settings, &Form3::closed, [&] {
        busyAtSettingsClose = program->state().capture.CaptureBusy;
        portOpenAtSettingsClose = services.port.open;
    });

    runBinnedAnd(control, [&control] { control.close(); });
    EXPECT_TRUE(controlClosed.count() > 0 || controlClosed.wait(5000));

    EXPECT_EQ(busyAtSettingsClose, 0) << "the Control window closes once its run has ended";
    EXPECT_FALSE(portOpenAtSettingsClose);
    EXPECT_EQ(readBytes(config()), configWith(1, 2));
    EXPECT_EQ(services.port.initCalls, 1);
    EXPECT_FALSE(program->viewer().hasBackground());
    EXPECT_TRUE(visibleWindows().isEmpty()) << visibleWindows().join(", ").toStdString();
}

TEST_F(ProgramWindowsTest, ClosingSettingsDuringACaptureLeavesTheRunGoing) {
    menu("Control");
    Form1& control = *program->control();
    Form3& settings = openSettings();
    in<QRadioButton>(settings, "Option2")->click();
    int busyAtSettingsClose = -1;
    QObject::connect(&settings, &Form3::closed,
                     [&] { busyAtSettingsClose = program->state().capture.CaptureBusy; });

    in<QLineEdit>(control, "Text2")->setText(QStringLiteral("0"));
    const int id = services.lines.subscribe([&](const LineWrite& write) {
        if (write.state == LineExposeAmpOn) {
            QTimer::singleShot(0, &settings, [&settings] { settings.close(); });
        }
    });
    in<QPushButton>(control, "Command2")->click();
    services.lines.unsubscribe(id);

    EXPECT_EQ(busyAtSettingsClose, 1);
    EXPECT_EQ(readBytes(config()), configWith(2, 1));
    EXPECT_EQ(services.acquisition.calls.size(), 1U) << "the frame was still taken";
    EXPECT_TRUE(control.isVisible());
    EXPECT_TRUE(program->viewer().isVisible());
    EXPECT_TRUE(services.port.open);
}

} // namespace
} // namespace lumenvale
