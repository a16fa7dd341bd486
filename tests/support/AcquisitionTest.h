// A fixture for the acquisition library: a temporary directory with a "dev" folder for fake
// camera nodes, the fake V4L2 calls behind them, and the library's options pointing there.
#pragma once

#include "support/FakeV4l2Device.h"
#include "support/TempDirTest.h"

#include "acquisition/AcquisitionOptions.h"
#include "lines/LineMonitor.h"
#include "platform/Clock.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace lumenvale::test {

// A dialog that nobody confirms fails the test at its deadline, with a message, instead of
// hanging it until ctest gives up.
class DialogDeadline {
public:
    explicit DialogDeadline(int ms = 30000) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [ms] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                ADD_FAILURE() << "the acquisition dialog was still open after " << ms << " ms";
                dialog->reject();
            }
        });
        timer_.start(ms);
    }

private:
    QTimer timer_;
};

class AcquisitionTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        std::filesystem::create_directory(dir / "dev");
    }

    // A capture device node "dev/<node>" whose card is `card`; returns its path.
    std::string addCamera(const char* node, const char* card) {
        const std::string path = (dir / "dev" / node).string();
        std::ofstream(path).put('\n');
        device.cameras[path].card = card;
        return path;
    }

    // A failure closes the dialog at once, a frame is waited for 2 s.
    AcquisitionOptions options() {
        AcquisitionOptions o;
        o.configFile = dir / "acquisition.ini";
        o.deviceDirectory = dir / "dev";
        o.frameTimeoutMs = 2000;
        o.failureLingerMs = 0;
        return o;
    }

    LineMonitor lines;
    SystemClock clock;
    FakeV4l2Device device;
    QWidget window;
};

} // namespace lumenvale::test
