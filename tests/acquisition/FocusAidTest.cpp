// The focus aid in the acquisition dialog, driven as the user does it: the star it measures
// by itself and the one clicked, marked in the live picture, "no star", a stretched picture on the
// screen but the camera's own frame in the file, the stretch choice kept in the library's file, and
// the readout timer's tick coming before any work on the live picture, its Return still confirming.
#include "support/AcquisitionTest.h"
#include "support/StarFrames.h"

#include "acquisition/AcquisitionLibrary.h"
#include "acquisition/dialog/AcquisitionDialog.h"
#include "acquisition/dialog/FocusAidPanel.h"
#include "acquisition/dialog/PreviewPacer.h"
#include "acquisition/dialog/StarMarks.h"
#include "platform/Keystrokes.h"
#include "platform/WindowTimers.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

using namespace lumenvale;
using namespace lumenvale::test;

namespace {

// A camera that shows one still picture until confirmed, then hands that picture over.
class StillCamera : public FrameSource {
public:
    QString name() const override { return QStringLiteral("Still camera"); }
    std::optional<SourceFailure> start() override { return std::nullopt; }
    void stop() override {}
    void confirm() override { confirmed_ = true; }
    SourcePoll poll() override {
        SourcePoll poll;
        if (confirmed_) {
            poll.state = SourcePoll::State::Captured;
            poll.frame = picture;
        } else {
            poll.preview = picture;
        }
        return poll;
    }
    int pollIntervalMs() const override { return 20; }

    AcquiredFrame picture;

private:
    bool confirmed_ = false;
};

// What to wait for in the open dialog, then what to do.
struct Step {
    const char* waitingFor;
    std::function<bool(QWidget&)> ready;
    std::function<void(QWidget&)> then;
};

// Runs the steps in turn inside the dialog's event loop; a step not ready within 5 s fails
// the test and cancels the dialog.
void whileOpen(std::vector<Step> steps) {
    auto* poll = new QTimer;
    auto next = std::make_shared<std::size_t>(0);
    auto deadline = std::make_shared<QDeadlineTimer>(5000);
    QObject::connect(poll, &QTimer::timeout, poll, [=, steps = std::move(steps)] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr) {
            return;
        }
        const Step& step = steps[*next];
        if (step.ready(*dialog)) {
            step.then(*dialog);
            *deadline = QDeadlineTimer(5000);
            ++*next;
        } else if (deadline->hasExpired()) {
            ADD_FAILURE() << "gave up waiting for " << step.waitingFor;
            qobject_cast<QDialog*>(dialog)->reject();
            *next = steps.size();
        }
        if (*next == steps.size()) {
            poll->deleteLater();
            poll->stop();
        }
    });
    poll->start(5);
}

template <typename T> T& child(QWidget& dialog, const char* name) {
    T* found = dialog.findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return *found;
}

const FocusAidPanel& panel(QWidget& dialog) {
    return child<FocusAidPanel>(dialog, "FocusAid");
}

bool measured(QWidget& dialog, const TestStar& star) {
    const auto& found = panel(dialog).star();
    return found && std::hypot(found->centre.x() - star.x, found->centre.y() - star.y) < 0.5;
}

QImage shown(QWidget& dialog) {
    return child<QLabel>(dialog, "Preview")
        .pixmap()
        .toImage()
        .convertToFormat(QImage::Format_RGB888);
}

// Whether a mark of `colour` is drawn within `radius` of `centre` in the picture shown.
bool marked(QWidget& dialog, QPointF centre, double radius, const QColor& colour) {
    const QImage picture = shown(dialog);
    for (int y = int(centre.y() - radius); y <= int(centre.y() + radius); ++y) {
        for (int x = int(centre.x() - radius); x <= int(centre.x() + radius); ++x) {
            const bool within = std::hypot(x - centre.x(), y - centre.y()) <= radius;
            if (within && picture.valid(x, y) && picture.pixelColor(x, y) == colour) {
                return true;
            }
        }
    }
    return false;
}

bool acquireHasTheKeyboard(QWidget& dialog) {
    return dialog.focusWidget() == &child<QPushButton>(dialog, "AcquireButton");
}

} // namespace

struct FocusAidTest : AcquisitionTest {};

TEST_F(FocusAidTest, MeasuresTheBrightStarThenTheClickedOneAndWritesTheUnstretchedFrame) {
    const TestStar bright{300.6, 200.3, 2.5, 150};
    const TestStar faint{500.2, 400.8, 1.5, 60};
    const TestStar beside{515.5, 410.5, 1.5, 50};
    const AcquiredFrame stars = StarFrame({bright, faint, beside});
    StillCamera camera;
    camera.picture = stars;
    AcquisitionDialog dialog(&window, camera, dir / "temp.bmp", 0, /*stretch=*/true);
    whileOpen({
        {"the bright star", [&](QWidget& d) { return measured(d, bright); },
         [&](QWidget& d) {
             EXPECT_NE(shown(d), stars.toImage().convertToFormat(QImage::Format_RGB888))
                 << "the picture on the screen is stretched";
             QTest::mouseClick(&child<QLabel>(d, "Preview"), Qt::LeftButton, {}, QPoint(505, 397));
             EXPECT_TRUE(acquireHasTheKeyboard(d));
         }},
        {"the clicked star", [&](QWidget& d) { return measured(d, faint); },
         [&](QWidget& d) {
             const double hfd = panel(d).star()->hfd;
             const QPointF centre(faint.x, faint.y);
             EXPECT_TRUE(marked(d, centre, StarMarks::radius(hfd) + 1, StarMarks::Followed));
             EXPECT_FALSE(marked(d, centre, StarMarks::radius(hfd) - 2, StarMarks::Followed))
                 << "a circle round the star, leaving it to be seen";
             EXPECT_TRUE(marked(d, QPointF(beside.x, beside.y), 12, StarMarks::Other))
                 << "the star beside it, which the click might have meant";
             camera.picture = StarFrame({});
         }},
        {"no star",
         [](QWidget& d) {
             return child<QLabel>(d, "FocusFigures").text() == QLatin1String("no star");
         },
         [&](QWidget&) {
             camera.picture = stars;
             QtKeystrokes().sendEnter();
         }},
    });
    ASSERT_EQ(dialog.run(), AcquireOk);
    const std::string bmp = read(dir / "temp.bmp");
    ASSERT_EQ(bmp.size(), 54 + AcquiredFrame::PixelBytes);
    EXPECT_TRUE(bmp.substr(54) == std::string(stars.pixels().begin(), stars.pixels().end()))
        << "the file holds the frame as the camera gave it";
}

TEST_F(FocusAidTest, TheStretchChoiceIsKeptInTheLibrarysFileAndReturnStillConfirms) {
    AcquisitionConfig simulated;
    simulated.source = AcquisitionConfig::Source::Simulated;
    ASSERT_TRUE(simulated.save(options().configFile));
    AcquisitionLibrary library(lines, clock, device, options());
    const std::string file = (dir / "temp.bmp").string();

    bool keyboard = false;
    whileOpen({{"the dialog", [](QWidget&) { return true; },
                [&](QWidget& d) {
                    QTest::mouseClick(&child<QCheckBox>(d, "Stretch"), Qt::LeftButton);
                    keyboard = acquireHasTheKeyboard(d);
                    QtKeystrokes().sendEnter();
                }}});
    ASSERT_EQ(library.TWAIN_AcquireToFilename(&window, file), AcquireOk);
    EXPECT_TRUE(keyboard);
    EXPECT_TRUE(AcquisitionConfig::load(options().configFile).stretch);

    bool ticked = false;
    whileOpen({{"the dialog", [](QWidget&) { return true; },
                [&](QWidget& d) {
                    ticked = child<QCheckBox>(d, "Stretch").isChecked();
                    QtKeystrokes().sendEnter();
                }}});
    ASSERT_EQ(library.TWAIN_AcquireToFilename(&window, file), AcquireOk);
    EXPECT_TRUE(ticked) << "the next dialog starts stretched";
}

// A hi-res field's readout timer (50 ms) on a camera whose live pictures come every 20 ms: the
// tick and its line write find no picture shown and no star measured, and its Return confirms,
// in a dialog run again as in one run after another. The library builds its dialog once.
TEST_F(FocusAidTest, TheReadoutTimerTicksBeforeAnyPreviewWorkAndTheDialogIsBuiltOnce) {
    WindowTimers timers;
    const auto acquireWithTimer = [&](unsigned intervalMs,
                                      const std::function<std::int32_t()>& run) {
        QWidget* seen = nullptr;
        timers.SetTimer(&window, 0, intervalMs, [&](QWidget*, unsigned, auto, auto) {
            if (seen != nullptr) {
                return;
            }
            seen = QApplication::activeModalWidget();
            lines.publish({clock.timeGetTime(), 0x37});
            EXPECT_TRUE(child<QLabel>(*seen, "Preview").pixmap().isNull());
            EXPECT_FALSE(panel(*seen).star().has_value());
            QtKeystrokes().sendEnter();
        });
        const DialogDeadline deadline;
        EXPECT_EQ(run(), AcquireOk);
        timers.KillTimer(&window, 0);
        EXPECT_NE(seen, nullptr) << "the timer ticked inside the dialog";
        return seen;
    };

    AcquisitionDialog dialog(&window, 0);
    for (int field = 0; field < 2; ++field) {
        StillCamera camera; // a source serves one acquisition
        camera.picture = StarFrame({{300.6, 200.3, 2.5, 150}});
        acquireWithTimer(50, [&] { return dialog.run(camera, dir / "temp.bmp", false); });
    }

    AcquisitionConfig simulated;
    simulated.source = AcquisitionConfig::Source::Simulated;
    ASSERT_TRUE(simulated.save(options().configFile));
    AcquisitionLibrary library(lines, clock, device, options());
    const auto acquire = [&] {
        return library.TWAIN_AcquireToFilename(&window, (dir / "temp.bmp").string());
    };
    QWidget* first = acquireWithTimer(1, acquire);
    EXPECT_EQ(acquireWithTimer(1, acquire), first);
}

// Frames as the dialog gets to them, every 10 ms while it keeps up; the one that came during the
// slow frame is handled as soon as that is done, and it and the next two are passed over.
TEST(PreviewPacerTest, ASlowPictureMakesTheNextFramesWait) {
    struct Frame {
        std::int64_t arrives;
        std::int64_t takes; // when shown
        bool shown;
    };
    const std::vector<Frame> frames = {
        {0, 2, true},   {10, 2, true},  {20, 25, true}, {45, 2, false},
        {50, 2, false}, {60, 2, false}, {70, 2, true},  {80, 2, true},
    };
    PreviewPacer pacer;
    for (const Frame& f : frames) {
        SCOPED_TRACE(f.arrives);
        EXPECT_EQ(pacer.due(f.arrives), f.shown);
        if (pacer.due(f.arrives)) {
            pacer.shown(f.arrives, f.arrives + f.takes);
        }
    }
}
