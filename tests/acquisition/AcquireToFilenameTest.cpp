// TWAIN_AcquireToFilename as the capture commands call it: a timer armed before the call ends
// the exposure and sends Return from inside the dialog's event loop; the frame file is
// written, or nothing is and the result says why.
#include "support/AcquisitionTest.h"

#include "acquisition/AcquisitionLibrary.h"
#include "acquisition/V4l2Source.h"
#include "acquisition/WebcamStream.h"
#include "acquisition/dialog/AcquisitionDialog.h"
#include "platform/Keystrokes.h"
#include "platform/WindowTimers.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>

using namespace lumenvale;
using namespace lumenvale::test;
namespace fs = std::filesystem;

namespace {

// Runs `action` on the acquisition dialog once it is up.
void whenDialogOpen(std::function<void(QWidget&)> action) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action = std::move(action)] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            action(*dialog);
        }
    });
    poll->start(5);
}

struct AcquireToFilenameTest : AcquisitionTest {
    WindowTimers timers;
    QtKeystrokes keys;
    int ticks = 0;
    std::string webcamPath;

    // How deep in event loops the camera was opened: 0 ahead of any dialog, 1 inside one.
    int loopLevelAtOpen = -1;
    void noteLoopLevelAtOpen() {
        device.onOpen = [this](const std::string&) {
            loopLevelAtOpen = QThread::currentThread()->loopLevel();
        };
    }

    void chooseWebcam() {
        webcamPath = addCamera("video0", "Fake Camera");
        AcquisitionConfig config;
        config.source = AcquisitionConfig::Source::V4l2;
        config.devicePath = webcamPath;
        config.deviceName = QStringLiteral("Fake Camera");
        ASSERT_TRUE(config.save(dir / "acquisition.ini"));
    }

    // The camera lines of a frame up to the end of its exposure, written just now.
    void exposeFrame(std::uint8_t exposureState = 0x34) {
        const std::int32_t now = clock.timeGetTime();
        for (const std::uint8_t state : {0x27, 0x37, 0x14, 0x34}) {
            lines.publish({TickAdd(now, -300), state});
        }
        lines.publish({TickAdd(now, -300), exposureState});
    }

    // As the readout timer does it: armed before the call, its first tick writes the readout
    // state and sends Return to the dialog.
    std::int32_t acquire(AcquisitionLibrary& library, const std::string& name,
                         unsigned intervalMs = 1, std::uint8_t readout = 0x37) {
        ticks = 0;
        timers.SetTimer(&window, 0, intervalMs, [this, readout](QWidget*, unsigned, auto, auto) {
            if (ticks++ == 0) {
                lines.publish({clock.timeGetTime(), readout, clock.monotonicUs()});
                keys.sendEnter();
            }
        });
        const DialogDeadline deadline;
        const auto result = library.TWAIN_AcquireToFilename(&window, (dir / name).string());
        timers.KillTimer(&window, 0);
        return result;
    }

    std::vector<std::string> filesInRoot() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.is_regular_file()) {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

double rowMean(const std::string& bmp, int storedRow) {
    double sum = 0;
    for (int i = 0; i < 1920; ++i) {
        sum += std::uint8_t(bmp[54 + 1920 * std::size_t(storedRow) + std::size_t(i)]);
    }
    return sum / 1920;
}

} // namespace

TEST_F(AcquireToFilenameTest, ReturnFromTheReadoutTimerWritesTheBinnedFrame) {
    AcquisitionLibrary library(lines, clock, device, options());
    exposeFrame();
    QElapsedTimer elapsed;
    elapsed.start();
    ASSERT_EQ(acquire(library, "temp.bmp"), AcquireOk);
    EXPECT_LT(elapsed.elapsed(), 5000);
    EXPECT_GE(ticks, 1);

    const std::string bmp = read(dir / "temp.bmp");
    ASSERT_EQ(bmp.size(), 921654U);
    EXPECT_EQ(std::uint8_t(bmp[10]), 54);
    // A binned readout: light in the even stored rows only.
    EXPECT_GT(rowMean(bmp, 100), rowMean(bmp, 101) + 1.0);
    EXPECT_EQ(filesInRoot(), std::vector<std::string>{"temp.bmp"}) << "no temporary left over";
}

TEST_F(AcquireToFilenameTest, AcquisitionsFollowOneAnotherAsAHiResFrameNeedsThem) {
    AcquisitionLibrary library(lines, clock, device, options());
    for (int frame = 0; frame < 2; ++frame) {
        exposeFrame(0x30);
        ASSERT_EQ(acquire(library, "temp.bmp", 50, 0x35), AcquireOk);
        ASSERT_EQ(acquire(library, "temp2.bmp", 50, 0x37), AcquireOk);
        const std::string first = read(dir / "temp.bmp");
        const std::string second = read(dir / "temp2.bmp");
        ASSERT_EQ(first.size(), 921654U);
        ASSERT_EQ(second.size(), 921654U);
        EXPECT_NE(first, second);
    }
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(AcquireToFilenameTest, CancellingWritesNothing) {
    const std::vector<std::pair<const char*, std::function<void(QWidget&)>>> ways = {
        {"Cancel button",
         [](QWidget& d) { d.findChild<QPushButton*>(QStringLiteral("CancelButton"))->click(); }},
        {"Escape key",
         [](QWidget& d) {
             QCoreApplication::postEvent(
                 &d, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
         }},
        {"close box", [](QWidget& d) { d.close(); }},
    };
    AcquisitionLibrary library(lines, clock, device, options());
    make("temp.bmp", "the frame before");
    for (const auto& [way, action] : ways) {
        SCOPED_TRACE(way);
        whenDialogOpen(action);
        EXPECT_EQ(library.TWAIN_AcquireToFilename(&window, (dir / "temp.bmp").string()),
                  AcquireCancelled);
        EXPECT_EQ(read(dir / "temp.bmp"), "the frame before");
    }
    // The next acquisition works as usual.
    exposeFrame();
    EXPECT_EQ(acquire(library, "temp.bmp"), AcquireOk);
}

// Opening a camera can take a while; a camera not opened ahead is opened from inside the
// dialog's event loop, so the readout timer armed before the call need not wait for it.
TEST_F(AcquireToFilenameTest, AWebcamFrameArrivesThroughTheDialogOpenedInsideItsEventLoop) {
    chooseWebcam();
    device.streamEvery(5);
    noteLoopLevelAtOpen();
    AcquisitionLibrary library(lines, clock, device, options());
    ASSERT_EQ(QThread::currentThread()->loopLevel(), 0);
    ASSERT_EQ(acquire(library, "temp.bmp"), AcquireOk);
    EXPECT_GE(loopLevelAtOpen, 1);
    EXPECT_EQ(device.openDevices(), 1) << "the stream stays open for the next acquisition";

    // Some picture from the stream, whole and the right way round.
    const std::string bmp = read(dir / "temp.bmp");
    ASSERT_EQ(bmp.size(), 921654U);
    const auto* stored = reinterpret_cast<const std::uint8_t*>(bmp.data() + 54);
    bool matched = false;
    for (int seed = 1000; seed < 1000 + device.dequeued() && !matched; ++seed) {
        matched = FakeV4l2Device::ShowsPicture(stored, seed);
    }
    EXPECT_TRUE(matched);
}

// The camera starts once, ahead of the exposures, and streams on between acquisitions (the two
// fields of a hi-res frame among them) until the source is closed.
TEST_F(AcquireToFilenameTest, OneStreamServesEveryAcquisitionUntilTheSourceCloses) {
    chooseWebcam();
    device.streamEvery(5);
    noteLoopLevelAtOpen();
    AcquisitionLibrary library(lines, clock, device, options());
    library.openSource();
    EXPECT_EQ(loopLevelAtOpen, 0) << "opened before any dialog";
    EXPECT_EQ(device.streamOns(), 1);
    for (const char* name : {"temp.bmp", "temp.bmp", "temp2.bmp"}) {
        exposeFrame();
        ASSERT_EQ(acquire(library, name), AcquireOk) << name;
    }
    library.openSource(); // the next command
    EXPECT_EQ(device.streamOns(), 1);
    EXPECT_EQ(device.openDevices(), 1);
    library.closeSource();
    EXPECT_EQ(device.openDevices(), 0);
}

// A Focus frame's live picture offers the webcam's controls; once a capture's readout wrote
// its state they stay shut.
TEST_F(AcquireToFilenameTest, CameraControlsOpenOnTheDialogUntilTheReadout) {
    chooseWebcam();
    device.streamEvery(5);
    AcquisitionLibrary library(lines, clock, device, options());
    for (const bool readout : {false, true}) {
        SCOPED_TRACE(readout);
        if (readout) {
            QTimer::singleShot(1, [this] {
                lines.publish({clock.timeGetTime(), 0x37, clock.monotonicUs()});
            });
        }
        bool offered = false;
        QString panel;
        whenDialogOpen([&](QWidget& d) {
            QTimer::singleShot(AcquisitionDialog::PreviewHoldMs + 200, &d, [&] {
                auto* button = d.findChild<QPushButton*>(QStringLiteral("CameraControlsButton"));
                offered = button->isVisible() && button->isEnabled();
                if (offered) {
                    QTimer::singleShot(0, [&] {
                        QWidget* shown = QApplication::activeModalWidget();
                        panel = shown->windowTitle();
                        shown->close();
                    });
                    button->click();
                }
                d.findChild<QPushButton*>(QStringLiteral("CancelButton"))->click();
            });
        });
        const DialogDeadline deadline;
        EXPECT_EQ(library.TWAIN_AcquireToFilename(&window, (dir / "temp.bmp").string()),
                  AcquireCancelled);
        EXPECT_EQ(offered, !readout);
        EXPECT_EQ(panel.startsWith(QStringLiteral("Camera controls")), !readout)
            << panel.toStdString();
        EXPECT_EQ(device.openDevices(), 1) << "the panel leaves the stream open";
    }
}

TEST_F(AcquireToFilenameTest, AReturnBeforeTheCameraIsOpenStillTakesAFrameReadOutAfterIt) {
    chooseWebcam();
    V4l2Source::Options settings;
    settings.path = webcamPath;
    settings.name = QStringLiteral("Fake Camera");
    settings.skipFrames = 1;
    WebcamStream stream(device);
    V4l2Source source(stream, clock, settings, {});
    AcquisitionDialog dialog(&window, source, dir / "temp.bmp", 0);
    // Handled before the dialog's own start-up step, which is queued by run().
    QCoreApplication::postEvent(&dialog,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
    device.onOpen = [&](const std::string&) {
        QTimer::singleShot(20, [&] {
            for (int seed = 1; seed <= 3; ++seed) {
                device.deliverStarted(clock.monotonicUs(), seed);
            }
        });
    };
    const DialogDeadline deadline;
    ASSERT_EQ(dialog.run(), AcquireOk);
    const std::string bmp = read(dir / "temp.bmp");
    ASSERT_EQ(bmp.size(), 921654U);
    EXPECT_TRUE(
        FakeV4l2Device::ShowsPicture(reinterpret_cast<const std::uint8_t*>(bmp.data() + 54), 2))
        << "1 skipped, 2 kept";
}

// The reason stays in the status line a while; the readout timer's Return meanwhile neither
// closes the failed dialog early nor changes its result.
TEST_F(AcquireToFilenameTest, FailuresShowTheirReasonWriteNothingAndReturnTheirCode) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string fileName;
        std::int32_t code;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"not in the video group", [this] { device.cameras[webcamPath].openErrno = EACCES; },
         "temp.bmp", AcquirePermissionDenied, "video group"},
        {"camera unplugged since it was chosen", [this] { device.cameras.clear(); }, "temp.bmp",
         AcquireNoSource, "not connected"},
        {"camera in use", [this] { device.cameras[webcamPath].openErrno = EBUSY; }, "temp.bmp",
         AcquireDeviceBusy, "another program"},
        {"camera stops sending", [] {}, "temp.bmp", AcquireNoFrameInTime, "no frame arrived"},
        {"file cannot be written", [this] { device.streamEvery(5); }, "missing-directory/temp.bmp",
         AcquireWriteFailed, "could not be written"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        chooseWebcam();
        device.cameras[webcamPath] = FakeV4l2Camera{};
        device.streamEvery(0);
        c.arrange();
        AcquisitionOptions patient = options();
        patient.frameTimeoutMs = 300;
        patient.failureLingerMs = 300;
        auto library = std::make_unique<AcquisitionLibrary>(lines, clock, device, patient);
        QString status;
        whenDialogOpen([&status](QWidget& d) {
            QObject::connect(qobject_cast<QDialog*>(&d), &QDialog::finished, &d, [&status, &d] {
                status = d.findChild<QLabel*>(QStringLiteral("Status"))->text();
            });
        });
        QElapsedTimer elapsed;
        elapsed.start();
        EXPECT_EQ(acquire(*library, c.fileName), c.code);
        EXPECT_GE(elapsed.elapsed(), 250) << "the reason stays up a while";
        EXPECT_LT(elapsed.elapsed(), 5000);
        EXPECT_TRUE(status.contains(QLatin1String(c.says))) << status.toStdString();
        EXPECT_EQ(filesInRoot(), std::vector<std::string>{"acquisition.ini"});
        library.reset();
        EXPECT_EQ(device.openDevices(), 0);
    }
}
