// A webcam's own controls through the acquisition library, on the emulated webcam under the real
// libv4l2 (skipped without it): listed as the driver gives them, the automatic modes turned off
// at the camera's first use, the user's values kept through a reopening, a replugging and a
// restart of the program, and a value the camera refuses said once without stopping anything;
// and the simulated camera's, kept as well.
#include "support/emulated_webcam/EmulatedWebcamControl.h"

#include "acquisition/AcquisitionLibrary.h"
#include "acquisition/LibV4l2Calls.h"
#include "lines/LineMonitor.h"
#include "platform/Clock.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <algorithm>

using namespace lumenvale;
using namespace lumenvale::test;

namespace {

using Kind = CameraControl::Kind;

class CameraControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!EmulatedWebcamPreloaded()) {
            GTEST_SKIP() << "runs on the emulated webcam";
        }
        ASSERT_TRUE(ConfigureEmulatedWebcam("FORMATS=YUYV;FPS=10;REFUSE=none"));
        ASSERT_TRUE(dir_.isValid());
        options_.configFile = dir_.filePath(QStringLiteral("acquisition.ini")).toStdString();
        AcquisitionConfig webcam;
        webcam.source = AcquisitionConfig::Source::V4l2;
        webcam.devicePath = "/dev/video0";
        webcam.deviceName = QStringLiteral("Emulated Webcam");
        ASSERT_TRUE(webcam.save(options_.configFile));
    }

    std::unique_ptr<AcquisitionLibrary> library() {
        auto made = std::make_unique<AcquisitionLibrary>(lines_, clock_, calls_, options_);
        made->openSource();
        EXPECT_TRUE(made->webcamStream().isOpen());
        return made;
    }

    static std::int64_t camera(std::uint32_t id) {
        return EmulatedWebcamControlValue(id).value_or(-1000);
    }

    QTemporaryDir dir_;
    AcquisitionOptions options_;
    LineMonitor lines_;
    SystemClock clock_;
    LibV4l2Calls calls_;
};

TEST_F(CameraControlsTest, ListedAsTheDriverGivesThem) {
    const auto library = this->library();
    auto settings = library->webcamSettings();
    ASSERT_NE(settings, nullptr);
    struct Row {
        std::uint32_t id;
        Kind kind;
        std::int64_t minimum, maximum, defaultValue;
        bool readOnly, inactive;
        std::size_t choices;
    };
    // After the first use: manual exposure and white balance, so their values count.
    const Row rows[] = {
        {V4L2_CID_GAIN, Kind::Integer, 0, 100, 0, false, false, 0},
        {V4L2_CID_AUTO_WHITE_BALANCE, Kind::Boolean, 0, 1, 1, false, false, 0},
        {V4L2_CID_WHITE_BALANCE_TEMPERATURE, Kind::Integer, 2800, 6500, 4600, false, false, 0},
        {V4L2_CID_EXPOSURE_AUTO, Kind::Menu, 0, 3, 3, false, false, 2},
        {V4L2_CID_EXPOSURE_ABSOLUTE, Kind::Integer, 3, 2047, 250, false, false, 0},
    };
    const auto& controls = settings->editor().controls();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.id);
        const CameraControl* control = settings->editor().control(row.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->kind, row.kind);
        EXPECT_EQ(control->minimum, row.minimum);
        EXPECT_EQ(control->maximum, row.maximum);
        EXPECT_EQ(control->defaultValue, row.defaultValue);
        EXPECT_EQ(control->readOnly, row.readOnly);
        EXPECT_EQ(control->inactive, row.inactive);
        EXPECT_EQ(control->choices.size(), row.choices);
    }
    auto has = [&](auto predicate) {
        return std::any_of(controls.begin(), controls.end(), predicate);
    };
    EXPECT_TRUE(has([](const CameraControl& c) { return c.kind == Kind::Button; }));
    EXPECT_TRUE(has([](const CameraControl& c) { return c.kind == Kind::IntegerMenu; }));
    EXPECT_TRUE(has([](const CameraControl& c) { return c.readOnly; }));
    const auto intervals = settings->editor().frameIntervals();
    ASSERT_GE(intervals.size(), 2U);
    EXPECT_LT(intervals.front().framesPerSecond(), intervals.back().framesPerSecond());
}

TEST_F(CameraControlsTest, KeptThroughReopeningReplugAndRestart) {
    {
        const auto library = this->library();
        // The first use turned off what fights a long exposure.
        EXPECT_EQ(camera(V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_MANUAL);
        EXPECT_EQ(camera(V4L2_CID_AUTO_WHITE_BALANCE), 0);
        EXPECT_EQ(camera(V4L2_CID_BACKLIGHT_COMPENSATION), 0);
        auto settings = library->webcamSettings();
        EXPECT_TRUE(settings->editor().turnedOffNote().contains(QLatin1String("Auto Exposure")));

        // What the panel does: the user's own values, and the slowest frame rate.
        EXPECT_EQ(settings->editor().set(V4L2_CID_GAIN, 40), std::nullopt);
        EXPECT_EQ(settings->editor().set(V4L2_CID_EXPOSURE_ABSOLUTE, 1000), std::nullopt);
        const FrameInterval slowest = settings->editor().frameIntervals().front();
        EXPECT_EQ(settings->editor().setFrameInterval(slowest), std::nullopt);
        EXPECT_EQ(settings->editor().frameInterval(), slowest);
        // The user turns the automatic white balance back on; it stays on.
        EXPECT_EQ(settings->editor().set(V4L2_CID_AUTO_WHITE_BALANCE, 1), std::nullopt);
        EXPECT_TRUE(settings->editor().control(V4L2_CID_WHITE_BALANCE_TEMPERATURE)->inactive);

        // Unplugged and plugged in again: the camera starts from its defaults.
        library->closeSource();
        ASSERT_TRUE(ConfigureEmulatedWebcam("FORMATS=YUYV;FPS=10"));
        EXPECT_EQ(camera(V4L2_CID_GAIN), 0);
        library->openSource();
        EXPECT_EQ(camera(V4L2_CID_GAIN), 40);
        EXPECT_EQ(camera(V4L2_CID_EXPOSURE_ABSOLUTE), 1000);
        EXPECT_EQ(camera(V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_MANUAL);
        EXPECT_EQ(camera(V4L2_CID_AUTO_WHITE_BALANCE), 1);
        EXPECT_EQ(library->webcamSettings()->editor().frameInterval(), slowest);
        EXPECT_EQ(library->takeNotice(), QString());
    }
    // The program starts again on a camera plugged in anew; the same values come back, and
    // "Camera defaults" gives the driver's own.
    ASSERT_TRUE(ConfigureEmulatedWebcam("FORMATS=YUYV;FPS=10"));
    const auto library = this->library();
    EXPECT_EQ(camera(V4L2_CID_GAIN), 40);
    EXPECT_EQ(camera(V4L2_CID_EXPOSURE_ABSOLUTE), 1000);
    auto settings = library->webcamSettings();
    EXPECT_EQ(settings->editor().restoreDefaults(), std::nullopt);
    EXPECT_EQ(camera(V4L2_CID_GAIN), 0);
    EXPECT_EQ(camera(V4L2_CID_EXPOSURE_AUTO), 3);
    library->closeSource();
    library->openSource();
    EXPECT_EQ(camera(V4L2_CID_EXPOSURE_AUTO), 3) << "the first use is not repeated";
}

TEST_F(CameraControlsTest, ARefusedValueIsSaidOnceAndTheCameraStillStreams) {
    {
        const auto library = this->library();
        ASSERT_EQ(library->webcamSettings()->editor().set(V4L2_CID_GAIN, 40), std::nullopt);
    }
    ASSERT_TRUE(ConfigureEmulatedWebcam("FORMATS=YUYV;FPS=10;REFUSE=Gain"));
    const auto library = this->library();
    const QString notice = library->takeNotice();
    EXPECT_TRUE(notice.contains(QLatin1String("Gain 40"))) << notice.toStdString();
    EXPECT_TRUE(notice.contains(QLatin1String("Input/output error"))) << notice.toStdString();
    EXPECT_EQ(camera(V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_MANUAL) << "the others are applied";
    library->closeSource();
    library->openSource();
    EXPECT_TRUE(library->webcamStream().isOpen());
    EXPECT_EQ(library->takeNotice(), QString());
}

TEST(SimulatedCameraControlsTest, KeptThroughARestart) {
    QTemporaryDir dir;
    AcquisitionOptions options;
    options.configFile = dir.filePath(QStringLiteral("acquisition.ini")).toStdString();
    LineMonitor lines;
    SystemClock clock;
    LibV4l2Calls calls;
    {
        AcquisitionLibrary library(lines, clock, calls, options);
        auto settings = library.simulatedSettings();
        EXPECT_EQ(settings->editor().set(V4L2_CID_GAIN, 50), std::nullopt);
        EXPECT_EQ(settings->editor().set(V4L2_CID_GAIN, 500),
                  QStringLiteral("out of range (0 to 100)"));
        EXPECT_EQ(library.simulatedCamera().gain(), 50);
    }
    AcquisitionLibrary library(lines, clock, calls, options);
    library.config();
    EXPECT_EQ(library.simulatedCamera().gain(), 50);
}

} // namespace
