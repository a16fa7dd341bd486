// Camera > Video on the emulated webcam under the real libv4l2 (skipped without it), through
// the acquisition library as the program builds it: the live picture comes, Record keeps ten
// frames of the 320 x 240 region clicked in a SER file of the save directory, and the camera
// stays open for the video while the Control window lets its source go.
#include "support/SerReader.h"
#include "support/WindowControls.h"
#include "support/emulated_webcam/EmulatedWebcamControl.h"

#include "acquisition/AcquisitionLibrary.h"
#include "acquisition/LibV4l2Calls.h"
#include "lines/LineMonitor.h"
#include "platform/Clock.h"
#include "ui/VideoWindow.h"

#include <QComboBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace lumenvale;
using namespace lumenvale::test;

namespace {

// Runs the window's events until `done`, for 10 s at most.
template <typename Done> bool waitFor(Done done) {
    QDeadlineTimer deadline(10000);
    while (!done() && !deadline.hasExpired()) {
        QTest::qWait(10);
    }
    return done();
}

} // namespace

TEST(VideoWindowTest, RecordsTheRegionClickedFromTheWebcamsLiveVideo) {
    if (!EmulatedWebcamPreloaded()) {
        GTEST_SKIP() << "runs on the emulated webcam";
    }
    ASSERT_TRUE(ConfigureEmulatedWebcam("FORMATS=YUYV;FPS=30"));
    QTemporaryDir dir;
    AcquisitionOptions options;
    options.configFile = dir.filePath(QStringLiteral("acquisition.ini")).toStdString();
    AcquisitionConfig webcam;
    webcam.source = AcquisitionConfig::Source::V4l2;
    webcam.devicePath = "/dev/video0";
    webcam.deviceName = QStringLiteral("Emulated Webcam");
    ASSERT_TRUE(webcam.save(options.configFile));
    LineMonitor lines;
    SystemClock clock;
    LibV4l2Calls calls;
    AcquisitionLibrary library(lines, clock, calls, options);
    CaptureState capture;
    const std::string saveDir = dir.path().toStdString();
    VideoWindow window(library, capture, [&] { return std::pair{saveDir, QStringLiteral("jup")}; });
    window.show();
    ASSERT_TRUE(waitFor([&] { return window.session().picture().has_value(); }))
        << Control<QLabel>(window, "VideoMessage")->text().toStdString();
    library.closeSource(); // what the Control window does as it closes
    EXPECT_TRUE(library.webcamStream().isOpen()) << "the video keeps its camera";

    QTest::mouseClick(Control<QLabel>(window, "VideoPicture"), Qt::LeftButton, {}, QPoint(100, 90));
    Control<QComboBox>(window, "VideoRegion")->setCurrentIndex(1);
    Control<QSpinBox>(window, "VideoFrames")->setValue(10);
    QTest::mouseClick(Control<QPushButton>(window, "VideoRecord"), Qt::LeftButton);
    ASSERT_TRUE(window.session().recording())
        << Control<QLabel>(window, "VideoMessage")->text().toStdString();
    ASSERT_TRUE(waitFor([&] { return !window.session().recording(); }));
    window.close();
    EXPECT_FALSE(library.webcamStream().listener() != nullptr) << "the stream let go";

    std::string why;
    const auto ser = ReadSer(dir.filePath(QStringLiteral("jup001.ser")).toStdString(), why);
    ASSERT_TRUE(ser) << why;
    EXPECT_EQ(ser->frameCount, 10);
    EXPECT_EQ(ser->width, 320);
    EXPECT_EQ(ser->height, 240);
    ASSERT_EQ(ser->trailer.size(), 10U);
    for (std::size_t i = 1; i < ser->trailer.size(); ++i) {
        EXPECT_GT(ser->trailer[i], ser->trailer[i - 1]);
    }
}
