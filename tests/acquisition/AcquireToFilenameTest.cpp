// TWAIN_AcquireToFilename as the capture commands call it: a timer armed before the call ends
// the exposure and sends Return from inside the dialog's event loop; the frame file is
// written, or nothing is and the result says why.
#include "support/FakeV4l2Device.h"

#include "platform/Clock.h"
#include "platform/Keystrokes.h"
#include "platform/LineMonitor.h"
#include "platform/WindowTimers.h"
#include "platform/acquisition/AcquisitionDialog.h"
#include "platform/acquisition/AcquisitionLibrary.h"
#include "platform/acquisition/V4l2Source.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

using namespace lumenvale;
using namespace lumenvale::test;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

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

struct AcquireToFilenameTest : ::testing::Test {
    QTemporaryDir dir;
    fs::path root;
    LineMonitor lines;
    SystemClock clock;
    FakeV4l2Device device;
    WindowTimers timers;
    QtKeystrokes keys;
    QWidget window;
    int ticks = 0;
    std::string webcamPath;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        root = dir.path().toStdString();
        fs::create_directory(root / "dev");
        webcamPath = (root / "dev" / "video0").string();
    }

    AcquisitionOptions options(int lingerMs = 0) {
        AcquisitionOptions o;
        o.configFile = root / "acquisition.ini";
        o.deviceDirectory = root / "dev";
        o.v4l2 = &device;
        o.frameTimeoutMs = 2000;
        o.failureLingerMs = lingerMs;
        return o;
    }

    void chooseWebcam() {
        std::ofstream(webcamPath).put('\n');
        device.cameras[webcamPath].card = "Fake Camera";
        AcquisitionConfig config;
        config.source = AcquisitionConfig::Source::V4l2;
        config.devicePath = webcamPath;
        config.deviceName = QStringLiteral("Fake Camera");
        ASSERT_TRUE(config.save(root / "acquisition.ini"));
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
                lines.publish({clock.timeGetTime(), readout});
                keys.SendEnter();
            }
        });
        const auto result = library.TWAIN_AcquireToFilename(&window, (root / name).string());
        timers.KillTimer(&window, 0);
        return result;
    }

    std::vector<std::string> filesInRoot() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(root)) {
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
    AcquisitionLibrary library(lines, clock, options());
    exposeFrame();
    QElapsedTimer elapsed;
    elapsed.start();
    ASSERT_EQ(acquire(library, "temp.bmp"), AcquireOk);
    EXPECT_LT(elapsed.elapsed(), 5000);
    EXPECT_GE(ticks, 1);

    const std::string bmp = readFile(root / "temp.bmp");
    ASSERT_EQ(bmp.size(), 921654U);
    EXPECT_EQ(std::uint8_t(bmp[10]), 54);
    // A binned readout: light in the even stored rows only.
    EXPECT_GT(rowMean(bmp, 100), rowMean(bmp, 101) + 1.0);
    EXPECT_EQ(filesInRoot(), std::vector<std::string>{"temp.bmp"}) << "no temporary left over";
}

TEST_F(AcquireToFilenameTest, AcquisitionsFollowOneAnotherAsAHiResFrameNeedsThem) {
    AcquisitionLibrary library(lines, clock, options());
    for (int frame = 0; frame < 2; ++frame) {
        exposeFrame(0x30);
        ASSERT_EQ(acquire(library, "temp.bmp", 50, 0x35), AcquireOk);
        ASSERT_EQ(acquire(library, "temp2.bmp", 50, 0x37), AcquireOk);
        const std::string first = readFile(root / "temp.bmp");
        const std::string second = readFile(root / "temp2.bmp");
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
    AcquisitionLibrary library(lines, clock, options());
    std::ofstream(root / "temp.bmp") << "the frame before";
    for (const auto& [way, action] : ways) {
        SCOPED_TRACE(way);
        whenDialogOpen(action);
        EXPECT_EQ(library.TWAIN_AcquireToFilename(&window, (root / "temp.bmp").string()),
                  AcquireCancelled);
        EXPECT_EQ(readFile(root / "temp.bmp"), "the frame before");
    }
    // The next acquisition works as usual.
    exposeFrame();
    EXPECT_EQ(acquire(library, "temp.bmp"), AcquireOk);
}

TEST_F(AcquireToFilenameTest, AWebcamFrameArrivesThroughTheDialog) {
    chooseWebcam();
    device.streamEvery(5);
    AcquisitionLibrary library(lines, clock, options());
    ASSERT_EQ(acquire(library, "temp.bmp"), AcquireOk);
    EXPECT_EQ(device.openDevices(), 0) << "the camera is released when the dialog closes";

    const std::string bmp = readFile(root / "temp.bmp");
    ASSERT_EQ(bmp.size(), 921654U);
    // Some picture from the stream, the right way round: top line stored last, blue first.
    const std::size_t topLeft = 54 + 1920 * 479;  // picture line 0 is stored last
    const std::size_t bottomRight = 54 + 639 * 3; // picture line 479 is stored first
    bool matched = false;
    for (int seed = 1000; seed < 1000 + device.dequeued() && !matched; ++seed) {
        const auto first = FakeV4l2Device::PatternPixel(seed, 0, 0);
        const auto last = FakeV4l2Device::PatternPixel(seed, 639, 479);
        matched = std::uint8_t(bmp[topLeft]) == first[2] &&
                  std::uint8_t(bmp[topLeft + 2]) == first[0] &&
                  std::uint8_t(bmp[bottomRight]) == last[2] &&
                  std::uint8_t(bmp[bottomRight + 2]) == last[0];
    }
    EXPECT_TRUE(matched);
}

TEST_F(AcquireToFilenameTest, TheCameraIsOpenedOnlyOnceTheDialogsEventLoopRuns) {
    chooseWebcam();
    device.streamEvery(5);
    int loopLevelAtOpen = -1;
    device.onOpen = [&](const std::string&) {
        loopLevelAtOpen = QThread::currentThread()->loopLevel();
    };
    AcquisitionLibrary library(lines, clock, options());
    ASSERT_EQ(QThread::currentThread()->loopLevel(), 0);
    ASSERT_EQ(acquire(library, "temp.bmp"), AcquireOk);
    EXPECT_GE(loopLevelAtOpen, 1) << "the readout timer must not wait for the camera";
}

TEST_F(AcquireToFilenameTest, AReturnBeforeTheCameraIsOpenStillTakesAFrameReadOutAfterIt) {
    chooseWebcam();
    V4l2Source::Settings settings;
    settings.path = webcamPath;
    settings.name = QStringLiteral("Fake Camera");
    settings.skipFrames = 1;
    V4l2Source source(device, clock, settings);
    AcquisitionDialog dialog(&window, source, root / "temp.bmp", 0);
    // Handled before the dialog's own start-up step, which is queued by run().
    QCoreApplication::postEvent(&dialog,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
    device.onOpen = [&](const std::string&) {
        QTimer::singleShot(20, [&] {
            for (int seed = 1; seed <= 3; ++seed) {
                device.deliver(seed);
            }
        });
    };
    ASSERT_EQ(dialog.run(), AcquireOk);
    const std::string bmp = readFile(root / "temp.bmp");
    ASSERT_EQ(bmp.size(), 921654U);
    const auto expected = FakeV4l2Device::PatternPixel(2, 0, 0); // 1 skipped, 2 kept
    EXPECT_EQ(std::uint8_t(bmp[54 + 1920 * 479 + 2]), expected[0]);
    EXPECT_EQ(std::uint8_t(bmp[54 + 1920 * 479]), expected[2]);
}

TEST_F(AcquireToFilenameTest, FailuresShowTheirReasonAndReturnTheirCode) {
    chooseWebcam();
    device.cameras[webcamPath].openErrno = EACCES;
    AcquisitionLibrary library(lines, clock, options(300));
    QString status;
    whenDialogOpen([&status](QWidget& d) {
        QTimer::singleShot(50, &d, [&status, &d] {
            status = d.findChild<QLabel*>(QStringLiteral("Status"))->text();
        });
    });
    // The readout timer's Return does not close a failed dialog early or change its result.
    EXPECT_EQ(acquire(library, "temp.bmp"), AcquirePermissionDenied);
    EXPECT_TRUE(status.contains(QStringLiteral("video group"))) << status.toStdString();
    EXPECT_FALSE(fs::exists(root / "temp.bmp"));
}

TEST_F(AcquireToFilenameTest, FailureCodesSayWhich) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string fileName;
        std::int32_t code;
    };
    const std::vector<Case> cases = {
        {"camera unplugged since it was chosen", [this] { device.cameras.clear(); }, "temp.bmp",
         AcquireNoSource},
        {"camera in use", [this] { device.cameras[webcamPath].openErrno = EBUSY; }, "temp.bmp",
         AcquireDeviceBusy},
        {"camera stops sending", [] {}, "temp.bmp", AcquireNoFrameInTime},
        {"file cannot be written", [this] { device.streamEvery(5); }, "missing-directory/temp.bmp",
         AcquireWriteFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        chooseWebcam();
        device.cameras[webcamPath] = FakeV4l2Camera{};
        device.streamEvery(0);
        c.arrange();
        AcquisitionOptions o = options();
        o.frameTimeoutMs = 300;
        AcquisitionLibrary library(lines, clock, o);
        QElapsedTimer elapsed;
        elapsed.start();
        EXPECT_EQ(acquire(library, c.fileName), c.code);
        EXPECT_LT(elapsed.elapsed(), 5000);
        EXPECT_EQ(filesInRoot(), std::vector<std::string>{"acquisition.ini"});
        EXPECT_EQ(device.openDevices(), 0);
    }
}
