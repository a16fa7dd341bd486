// TWAIN_SelectImageSource and the library's own settings file: what the chooser lists, that OK
// keeps the choice and Cancel the old one, and what happens to a camera that has gone.
#include "support/AcquisitionTest.h"

#include "support/FakeLineCalls.h"

#include "acquisition/AcquisitionLibrary.h"
#include "lines/LinePorts.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

using namespace lumenvale;
using namespace lumenvale::test;
namespace fs = std::filesystem;

namespace {

struct SourceChooserTest : AcquisitionTest {
    fs::path ini;

    void SetUp() override {
        AcquisitionTest::SetUp();
        ini = options().configFile;
        addCamera("video0", "Left Camera");
        addCamera("video2", "Right Camera");
    }

    // Shows the chooser; `answer` looks at it and presses a button.
    std::int32_t choose(AcquisitionLibrary& library, std::function<void(QDialog&)> answer) {
        QTimer::singleShot(0, [answer = std::move(answer)] {
            auto* chooser = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(chooser, nullptr);
            answer(*chooser);
        });
        return library.TWAIN_SelectImageSource(&window);
    }

    static QListWidget& list(QDialog& d) {
        return *d.findChild<QListWidget*>(QStringLiteral("SourceList"));
    }
    static QSpinBox& skip(QDialog& d) {
        return *d.findChild<QSpinBox*>(QStringLiteral("SkipFrames"));
    }
    static void press(QDialog& d, QDialogButtonBox::StandardButton which) {
        d.findChild<QDialogButtonBox*>()->button(which)->click();
    }
};

} // namespace

TEST_F(SourceChooserTest, ListsTheSimulatedCameraAndEveryWebcamAndKeepsTheChoiceOnOk) {
    AcquisitionConfig stretched;
    stretched.stretch = true;
    ASSERT_TRUE(stretched.save(ini));
    AcquisitionLibrary library(lines, clock, device, options());
    QStringList shown;
    bool skipForSimulated = true;
    const auto result = choose(library, [&](QDialog& d) {
        for (int i = 0; i < list(d).count(); ++i) {
            shown << list(d).item(i)->text();
        }
        list(d).setCurrentRow(0);
        skipForSimulated = skip(d).isEnabled();
        list(d).setCurrentRow(2);
        skip(d).setValue(3);
        press(d, QDialogButtonBox::Ok);
    });
    EXPECT_EQ(result, AcquireOk);
    ASSERT_EQ(shown.size(), 3);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("Simulated")));
    EXPECT_TRUE(shown[1].contains(QStringLiteral("Left Camera")));
    EXPECT_TRUE(shown[2].contains(QStringLiteral("Right Camera")));
    EXPECT_TRUE(shown[2].contains(QString::fromStdString((dir / "dev" / "video2").string())));
    EXPECT_FALSE(skipForSimulated) << "skipping frames means nothing to the simulated camera";

    // Kept in the library's own file, and found there by the next run of the program.
    const AcquisitionConfig saved = AcquisitionConfig::load(ini);
    EXPECT_EQ(saved.source, AcquisitionConfig::Source::V4l2);
    EXPECT_EQ(saved.devicePath, (dir / "dev" / "video2").string());
    EXPECT_EQ(saved.deviceName, QStringLiteral("Right Camera"));
    EXPECT_EQ(saved.skipFrames, 3);
    EXPECT_TRUE(saved.stretch) << "the live picture's stretch is not the chooser's to change";
    AcquisitionLibrary nextRun(lines, clock, device, options());
    EXPECT_EQ(nextRun.config(), saved);
}

// Beside a camera: that processing assumes a 640 x 480 sensor when it has no such mode, and
// that frames are found by counting once it was seen streaming without timestamps.
TEST_F(SourceChooserTest, SaysBesideACameraWhatItLacks) {
    device.cameras[(dir / "dev" / "video0").string()].stamps = FakeV4l2Camera::Stamps::None;
    device.cameras[(dir / "dev" / "video2").string()].sizes = {{1280, 720}};
    AcquisitionLibrary library(lines, clock, device, options());
    library.openSource(); // nothing chosen: the first camera
    device.deliver(1);
    QCoreApplication::processEvents(); // the stream takes the frame as it comes
    QStringList shown;
    choose(library, [&](QDialog& d) {
        for (int i = 0; i < list(d).count(); ++i) {
            shown << list(d).item(i)->text();
        }
        press(d, QDialogButtonBox::Cancel);
    });
    ASSERT_EQ(shown.size(), 3);
    EXPECT_TRUE(shown[1].contains(QStringLiteral("no timestamps"))) << shown[1].toStdString();
    EXPECT_FALSE(shown[1].contains(QStringLiteral("640 x 480")));
    EXPECT_TRUE(shown[2].contains(QStringLiteral("assume a 640 x 480 sensor")))
        << shown[2].toStdString();
    EXPECT_FALSE(shown[2].contains(QStringLiteral("timestamps")));
}

TEST_F(SourceChooserTest, CancelKeepsTheOldChoice) {
    AcquisitionConfig old;
    old.source = AcquisitionConfig::Source::Simulated;
    old.skipFrames = 2;
    ASSERT_TRUE(old.save(ini));
    AcquisitionLibrary library(lines, clock, device, options());
    int selected = -1;
    const auto result = choose(library, [&](QDialog& d) {
        selected = list(d).currentRow();
        list(d).setCurrentRow(1);
        skip(d).setValue(5);
        press(d, QDialogButtonBox::Cancel);
    });
    EXPECT_EQ(result, AcquireCancelled);
    EXPECT_EQ(selected, 0) << "the current choice is shown selected";
    EXPECT_EQ(library.config(), old);
    EXPECT_EQ(AcquisitionConfig::load(ini), old);
}

TEST_F(SourceChooserTest, AVanishedCameraFallsBackToTheSimulatedOneWithANote) {
    AcquisitionConfig old;
    old.source = AcquisitionConfig::Source::V4l2;
    old.devicePath = (dir / "dev" / "video7").string();
    old.deviceName = QStringLiteral("Unplugged Camera");
    ASSERT_TRUE(old.save(ini));
    AcquisitionLibrary library(lines, clock, device, options());
    QString note;
    int selected = -1;
    choose(library, [&](QDialog& d) {
        const auto* label = d.findChild<QLabel*>(QStringLiteral("Note"));
        note = label->isVisibleTo(&d) ? label->text() : QString();
        selected = list(d).currentRow();
        press(d, QDialogButtonBox::Ok);
    });
    EXPECT_EQ(selected, 0);
    EXPECT_TRUE(note.contains(QStringLiteral("Unplugged Camera"))) << note.toStdString();
    EXPECT_TRUE(note.contains(QStringLiteral("video7")));
    EXPECT_EQ(AcquisitionConfig::load(ini).source, AcquisitionConfig::Source::Simulated);
}

TEST_F(SourceChooserTest, WithNothingChosenTheFirstUsableWebcamIsOffered) {
    device.cameras[(dir / "dev" / "video0").string()].openErrno = EACCES;
    AcquisitionLibrary library(lines, clock, device, options());
    QString first;
    int selected = -1;
    choose(library, [&](QDialog& d) {
        first = list(d).item(1)->text();
        selected = list(d).currentRow();
        press(d, QDialogButtonBox::Cancel);
    });
    EXPECT_TRUE(first.contains(QStringLiteral("video group"))) << first.toStdString();
    EXPECT_EQ(selected, 2);
}

// The panel opens on the webcam selected, opened for it and closed again after.
TEST_F(SourceChooserTest, CameraControlsOpenOnTheSelectedWebcam) {
    AcquisitionLibrary library(lines, clock, device, options());
    bool simulatedOffered = false;
    QString title;
    int openWhileShown = 0;
    choose(library, [&](QDialog& d) {
        auto* button = d.findChild<QPushButton*>(QStringLiteral("CameraControlsButton"));
        list(d).setCurrentRow(0);
        simulatedOffered = button->isEnabled();
        list(d).setCurrentRow(2);
        QTimer::singleShot(0, [&] {
            QWidget* panel = QApplication::activeModalWidget();
            title = panel->windowTitle();
            openWhileShown = device.openDevices();
            panel->close();
        });
        button->click();
        press(d, QDialogButtonBox::Cancel);
    });
    EXPECT_TRUE(simulatedOffered);
    EXPECT_TRUE(title.contains(QStringLiteral("Right Camera"))) << title.toStdString();
    EXPECT_EQ(openWhileShown, 1);
    EXPECT_EQ(device.openDevices(), 0);
}

TEST_F(SourceChooserTest, ChoosesTheLineAdapterItsDeviceAndMappingAndTestsTheLines) {
    FakeTty tty;
    FakeHid hid;
    FakeFtdi ftdi;
    FakeGpio gpio;
    LineCalls calls{tty, hid, ftdi, gpio};
    AcquisitionOptions withLines = options();
    withLines.lineCalls = &calls;
    std::ofstream(dir / "dev" / "ttyUSB0").put('\n');
    AcquisitionLibrary library(lines, clock, device, withLines);
    EXPECT_EQ(library.config().lines.adapter, LineAdapter::Parallel) << "the default";

    QString devices;
    QString step;
    choose(library, [&](QDialog& d) {
        auto* adapter = d.findChild<QComboBox*>(QStringLiteral("LinesAdapter"));
        adapter->setCurrentIndex(static_cast<int>(LineAdapter::Serial));
        auto* deviceList = d.findChild<QComboBox*>(QStringLiteral("LinesDevice"));
        for (int i = 0; i < deviceList->count(); ++i) {
            devices += deviceList->itemText(i);
        }
        auto* mapping = d.findChild<QTableWidget*>(QStringLiteral("LinesMapping"));
        ASSERT_EQ(mapping->rowCount(), 3);
        EXPECT_EQ(mapping->item(2, 0)->text(), QStringLiteral("TXD"));
        static_cast<QComboBox*>(mapping->cellWidget(2, 1))->setCurrentIndex(5); // D4
        mapping->item(2, 2)->setCheckState(Qt::Checked);
        d.findChild<QPushButton*>(QStringLiteral("LineTest"))->click();
        step = d.findChild<QLabel*>(QStringLiteral("LineTestStep"))->text();
        press(d, QDialogButtonBox::Ok);
    });

    EXPECT_EQ(devices, QString::fromStdString((dir / "dev" / "ttyUSB0").string()));
    EXPECT_EQ(step, QStringLiteral("0x00: idle (none)"));
    EXPECT_EQ(tty.outputs, FakeTty::Rts | FakeTty::Dtr | FakeTty::Break)
        << "the first state of the test, through the mapping being edited";
    const LinesChoice expected{LineAdapter::Serial, (dir / "dev" / "ttyUSB0").string(),
                               *ParseLineMapping("RTS=!D0 DTR=!D2 TXD=!D4")};
    EXPECT_EQ(library.config().lines, expected);
    EXPECT_EQ(AcquisitionConfig::load(ini).lines, expected) << "kept in the library's file";
}

using AcquisitionConfigTest = TempDirTest;

TEST_F(AcquisitionConfigTest, ReadsWhatItWroteAndBringsOddValuesIntoRange) {
    const fs::path ini = dir / "sub" / "acquisition.ini";
    EXPECT_EQ(AcquisitionConfig::load(ini), AcquisitionConfig{}) << "no file: the defaults";

    AcquisitionConfig written;
    written.source = AcquisitionConfig::Source::V4l2;
    written.devicePath = "/dev/video3";
    written.deviceName = QStringLiteral("Caméra = [1]; ok");
    written.skipFrames = 2;
    written.stretch = true;
    written.lines = {LineAdapter::Gpio, "/dev/gpiochip1", *ParseLineMapping("5=!D0 6=D1 7=-")};
    ASSERT_TRUE(written.save(ini)) << "the directory is made when missing";
    EXPECT_EQ(AcquisitionConfig::load(ini), written);
    std::ofstream(ini.parent_path() / "lines.ini") << "[lines]\nadapter=serial\nmapping=RTS=D9\n";
    EXPECT_EQ(AcquisitionConfig::load(ini.parent_path() / "lines.ini").lines.mapping,
              DefaultLineMapping(LineAdapter::Serial));

    struct Case {
        const char* text;
        AcquisitionConfig::Source source;
        int skip;
    };
    const std::vector<Case> cases = {
        {"[v4l2]\nskipFrames=-4\n", AcquisitionConfig::Source::Unset, 0},
        {"[v4l2]\nskipFrames=9999\n", AcquisitionConfig::Source::Unset,
         AcquisitionConfig::MaxSkipFrames},
        {"[v4l2]\nskipFrames=lots\n", AcquisitionConfig::Source::Unset,
         AcquisitionConfig::DefaultSkipFrames},
        {"[source]\nkind=v4l2\n", AcquisitionConfig::Source::Unset,
         AcquisitionConfig::DefaultSkipFrames}, // no device named
        {"[source]\nkind=simulated\n", AcquisitionConfig::Source::Simulated,
         AcquisitionConfig::DefaultSkipFrames},
        {"[source]\nkind=twain\n", AcquisitionConfig::Source::Unset,
         AcquisitionConfig::DefaultSkipFrames},
        {"\x01\x02 not an ini file at all", AcquisitionConfig::Source::Unset,
         AcquisitionConfig::DefaultSkipFrames},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        // A file of its own for each case: QSettings caches files by name, size and time.
        const fs::path file = ini.parent_path() / ("case" + std::to_string(n++) + ".ini");
        std::ofstream(file) << c.text;
        const AcquisitionConfig read = AcquisitionConfig::load(file);
        EXPECT_EQ(read.source, c.source);
        EXPECT_EQ(read.skipFrames, c.skip);
    }
}

TEST(AcquisitionConfigLocationTest, LivesInTheUsersConfigurationDirectory) {
    QStandardPaths::setTestModeEnabled(true);
    const fs::path file = AcquisitionConfig::defaultFile();
    const auto expected = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QStandardPaths::setTestModeEnabled(false);
    EXPECT_EQ(file, fs::path(expected.toStdString()) / "acquisition.ini");
}
