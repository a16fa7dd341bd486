// The live stack in the real program: the viewer's Camera menu, the Control window's 2x1
// Binned run on the simulated camera whose stars drift, the Live stack window open, and the
// stack saved at the end of the run because "Save" is ticked.
#include "support/FakeV4l2Device.h"
#include "support/ScriptedFileDialogs.h"
#include "support/TempDirTest.h"
#include "support/TestServices.h"
#include "support/WindowControls.h"

#include "acquisition/AcquisitionLibrary.h"
#include "analysis/FitsPicture.h"
#include "analysis/FocusMeasure.h"
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

#include <cmath>
#include <memory>

namespace lumenvale {
namespace {

using test::Control;

AcquiredFrame FrameOf(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    AcquiredFrame frame;
    for (int y = 0; y < AcquiredFrame::Height; ++y) {
        std::uint8_t* row = frame.storedRow(AcquiredFrame::Height - 1 - y);
        for (int x = 0; x < AcquiredFrame::Width; ++x) {
            for (int c = 0; c < 3; ++c) {
                row[3 * x + c] = rgb.constScanLine(y)[3 * x + 2 - c];
            }
        }
    }
    return frame;
}

double Hfd(const QImage& image) {
    FocusMeasure measure;
    const auto star = measure.measure(FrameOf(image));
    return star ? star->hfd : 1e9;
}

class LiveStackProgramTest : public test::TempDirTest {
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

TEST_F(LiveStackProgramTest, ARunOfDriftingBinnedFramesIsStackedAlignedAndSaved) {
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

    Control<QPushButton>(control, "Command2")->click();
    ASSERT_TRUE(services.messages.texts.isEmpty())
        << services.messages.texts.join('|').toStdString();

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
    EXPECT_EQ(stack.header.readMode, "2x1 Binned");
    // Stars of the stack as round and small as in one frame: 21 pixels of drift, unaligned,
    // would have drawn them out into trails.
    QImage linear(stack.picture.width, stack.picture.height, QImage::Format_RGB888);
    for (int y = 0; y < linear.height(); ++y) {
        for (int i = 0; i < linear.width() * 3; ++i) {
            const float v = stack.picture.row(y)[i];
            linear.scanLine(y)[i] = uchar(std::isnan(v) ? 0 : std::clamp(v, 0.0F, 255.0F));
        }
    }
    const double single =
        Hfd(QImage(QString::fromStdString((dir / "saved" / "image008.bmp").string())));
    EXPECT_LT(Hfd(linear), single * 1.2) << "one frame's HFD " << single;
}

} // namespace
} // namespace lumenvale
