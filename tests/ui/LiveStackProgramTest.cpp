// The live stack in the real program: the viewer's Camera menu, the Control window's 2x1
// Binned or Hi-res run on the simulated camera whose stars drift, the Live stack window open,
// and the stack saved at the end of the run because "Save" is ticked.
#include "support/FakeV4l2Device.h"
#include "support/ScriptedFileDialogs.h"
#include "support/TempDirTest.h"
#include "support/TestServices.h"
#include "support/WindowControls.h"

#include "acquisition/AcquisitionLibrary.h"
#include "analysis/FitsPicture.h"
#include "analysis/StarFinder.h"
#include "camera/Services.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/LiveStackWindow.h"
#include "ui/Program.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace lumenvale {
namespace {

using test::Control;

// The shape of the brightest star from the second moments of its light above the sky: its
// size (the mean square radius, pixels²) and elongation (the long axis over the short, 1 for a
// round star). The brightest star, not the brightest patch: that is the amplifier's glow.
struct Shape {
    double size = 1e9;
    double elongation = 1e9;
};

Shape BrightestStar(const FloatPicture& picture) {
    const std::vector<StarPoint> stars = StarFinder::find(picture, 1);
    if (stars.empty()) {
        return {};
    }
    const std::vector<float> grey = picture.grey();
    const auto at = [&](int x, int y) {
        return double(grey[std::size_t(y) * std::size_t(picture.width) + std::size_t(x)]);
    };
    const int cx = int(std::lround(stars[0].x));
    const int cy = int(std::lround(stars[0].y));
    std::vector<double> ring;
    for (int y = cy - 12; y <= cy + 12; ++y) {
        for (int x = cx - 12; x <= cx + 12; ++x) {
            const int r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            if (r2 >= 64 && r2 <= 144 && x >= 0 && y >= 0 && x < picture.width &&
                y < picture.height) {
                ring.push_back(at(x, y));
            }
        }
    }
    std::nth_element(ring.begin(), ring.begin() + long(ring.size() / 2), ring.end());
    const double sky = ring[ring.size() / 2];
    double sum = 0;
    double xx = 0;
    double yy = 0;
    double xy = 0;
    for (int y = cy - 6; y <= cy + 6; ++y) {
        for (int x = cx - 6; x <= cx + 6; ++x) {
            const double w = std::max(at(x, y) - sky, 0.0);
            const double dx = x - stars[0].x;
            const double dy = y - stars[0].y;
            sum += w;
            xx += w * dx * dx;
            yy += w * dy * dy;
            xy += w * dx * dy;
        }
    }
    const double mean = (xx + yy) / (2 * sum);
    const double spread = std::hypot((xx - yy) / (2 * sum), xy / sum);
    return {2 * mean, std::sqrt((mean + spread) / (mean - spread))};
}

struct RunCase {
    const char* button;
    const char* readMode;
};

void PrintTo(const RunCase& run, std::ostream* out) {
    *out << run.readMode;
}

class LiveStackProgramTest : public test::TempDirTest, public testing::WithParamInterface<RunCase> {
protected:
    LiveStackProgramTest() {
        std::filesystem::create_directories(dir / "saved");
        make("config.dat", " 1 \r\n" + (dir / "saved").string() + "\r\n 1 \r\n");
        program = std::make_unique<Program>(wired, dialogs, dir);
        program->show();
    }
    // The real acquisition library with no webcam: its simulated camera, drifting.
    static std::unique_ptr<AcquisitionLibrary> DriftingCamera(test::TestServices& services,
                                                              V4l2Calls& calls,
                                                              const std::filesystem::path& dir) {
        std::filesystem::create_directories(dir / "dev");
        AcquisitionOptions options;
        options.configFile = dir / "acquisition.ini";
        options.deviceDirectory = dir / "dev";
        options.simulatedDrift = {3, 2};
        return std::make_unique<AcquisitionLibrary>(services.lines, services.clock, calls, options);
    }
    ~LiveStackProgramTest() override {
        program.reset();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void menu(const char* command) {
        program->viewer().findChild<QAction*>(QString::fromLatin1(command))->trigger();
    }

    test::TestServices services;
    test::FakeV4l2Device noWebcams;
    std::unique_ptr<AcquisitionLibrary> library = DriftingCamera(services, noWebcams, dir);
    Services wired{services.clock,    services.lines, services.port,
                   services.timers,   services.keys,  services.pump,
                   services.messages, services.files, *library};
    test::ScriptedFileDialogs dialogs;
    std::unique_ptr<Program> program;
};

TEST_P(LiveStackProgramTest, ARunOfDriftingFramesIsStackedAlignedAndSaved) {
    menu("Control");
    menu("LiveStack");
    ASSERT_NE(program->liveStack(), nullptr);
    ASSERT_TRUE(program->liveStack()->isVisible());
    // A run is of darks or of flats: ticking one unticks the other.
    auto* darks = Control<QCheckBox>(*program->liveStack(), "NextRunDarks");
    auto* flats = Control<QCheckBox>(*program->liveStack(), "NextRunFlats");
    darks->setChecked(true);
    flats->setChecked(true);
    EXPECT_FALSE(darks->isChecked());
    darks->setChecked(true);
    EXPECT_FALSE(flats->isChecked());
    darks->setChecked(false);
    Form1& control = *program->control();
    Control<QLineEdit>(control, "Text2")->setText(QStringLiteral("1"));
    Control<QLineEdit>(control, "Text3")->setText(QStringLiteral("8"));
    Control<QLineEdit>(control, "Text4")->setText(QStringLiteral("image"));
    Control<QCheckBox>(control, "Check5")->setChecked(true);

    Control<QPushButton>(control, GetParam().button)->click();
    ASSERT_TRUE(services.messages.texts.isEmpty())
        << services.messages.texts.join('|').toStdString();
    // The acquisition dialog got its window ahead of the run without giving one to every
    // widget of the Control window, which every modal showing would then have to tell.
    QStringList native;
    for (const QWidget* widget : control.findChildren<QWidget*>()) {
        if (widget->internalWinId() != 0) {
            native << widget->objectName();
        }
    }
    EXPECT_TRUE(native.isEmpty()) << native.join(' ').toStdString();

    // The stack's work goes on beside the run; the run has ended, the stack follows.
    const std::filesystem::path stackFile = dir / "saved" / "image-stack.fits";
    QElapsedTimer waited;
    waited.start();
    while (!(program->liveStack()->idle() && std::filesystem::exists(stackFile))) {
        ASSERT_LT(waited.elapsed(), 60000) << "the stack was not saved within a minute";
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    const QString figures = Control<QLabel>(*program->liveStack(), "StackFigures")->text();
    EXPECT_TRUE(figures.startsWith(QStringLiteral("8 stacked, 0 rejected, 8 s")))
        << figures.toStdString();
    EXPECT_TRUE(std::filesystem::exists(dir / "saved" / "image-stack.png"));

    const FitsPicture stack = FitsPicture::read(stackFile);
    EXPECT_EQ(stack.header.combined, 8);
    EXPECT_DOUBLE_EQ(stack.header.exposureSeconds, 8);
    EXPECT_EQ(stack.header.readMode, GetParam().readMode);
    // Stars of the stack as round and small as in one frame: 21 pixels of drift, unaligned,
    // would have drawn them out into trails.
    const Shape single = BrightestStar(FloatPicture::FromImage(
        QImage(QString::fromStdString((dir / "saved" / "image008.bmp").string()))));
    FloatPicture greyLevels = stack.picture; // stored as 0 to 1
    for (float& value : greyLevels.values) {
        value *= 255;
    }
    const Shape stacked = BrightestStar(greyLevels);
    EXPECT_LT(stacked.size, single.size * 1.2) << "one frame's " << single.size;
    EXPECT_LT(stacked.elongation, std::max(single.elongation, 1.0) * 1.1)
        << "one frame's " << single.elongation;
}

INSTANTIATE_TEST_SUITE_P(Modes, LiveStackProgramTest,
                         testing::Values(RunCase{"Command2", "2x1 Binned"},
                                         RunCase{"Command3", "Hi-res"}),
                         [](const testing::TestParamInfo<RunCase>& info) {
                             return std::string(info.param.button) == "Command2"
                                        ? std::string("Binned")
                                        : std::string("Hires");
                         });

} // namespace
} // namespace lumenvale
