// The Live stack window's picture as a user handles it: zoomed to 200 % and panned by dragging,
// which the next frame keeps, and the black point dragged on the histogram, which stretches the
// shown stack anew.
#include "support/StarFields.h"
#include "support/TempDirTest.h"
#include "support/WindowControls.h"

#include "ui/LiveStackWindow.h"
#include "ui/StackView.h"
#include "ui/StretchHistogramView.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace lumenvale {
namespace {

using test::Control;

class LiveStackWindowTest : public test::TempDirTest {
protected:
    LiveStackWindowTest() {
        window.show();
        window.runStarted(QStringLiteral("2x1 Binned"));
    }
    void frame(double dx) {
        window.frameFinished(test::PictureOf(test::StarField(stars, {dx, 0}, 40, 2, seed++)),
                             QStringLiteral("2x1 Binned"), 1000);
        settle();
    }
    void settle() {
        QElapsedTimer waited;
        waited.start();
        do {
            ASSERT_LT(waited.elapsed(), 30000) << "the worker did not answer";
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        } while (!window.idle());
        QApplication::processEvents();
    }
    QImage shown() const {
        return view->findChild<QLabel*>()->pixmap().toImage().convertToFormat(
            QImage::Format_RGB888);
    }

    LiveStackWindow window{dir, [] { return std::pair<std::string, QString>(); }};
    StackView* view = Control<StackView>(window, "StackImage");
    std::vector<test::FieldStar> stars = test::RandomStars(45);
    std::uint32_t seed = 1;
};

TEST_F(LiveStackWindowTest, ZoomPanAndTheBlackPoint) {
    frame(0);
    // Fitted into the view as it opens: all of it, as large as the view takes.
    const QSize fitted = shown().size();
    EXPECT_TRUE(view->viewport()->size().boundedTo(fitted) == fitted);
    EXPECT_TRUE(fitted.width() == view->viewport()->width() ||
                fitted.height() == view->viewport()->height())
        << fitted.width() << "x" << fitted.height();
    EXPECT_NEAR(view->scale(), fitted.width() / 640.0, 0.01);

    Control<QComboBox>(window, "StackZoom")->setCurrentText(QStringLiteral("200 %"));
    EXPECT_DOUBLE_EQ(view->scale(), 2);
    EXPECT_EQ(shown().size(), QSize(1280, 960));
    QWidget* viewport = view->viewport();
    const QPoint scrolled(view->horizontalScrollBar()->value(), view->verticalScrollBar()->value());
    QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(300, 200));
    QTest::mouseMove(viewport, QPoint(200, 150));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(200, 150));
    const QPoint panned(view->horizontalScrollBar()->value(), view->verticalScrollBar()->value());
    EXPECT_EQ(panned, scrolled + QPoint(100, 50));

    frame(2);
    EXPECT_DOUBLE_EQ(view->scale(), 2);
    EXPECT_EQ(shown().size(), QSize(1280, 960));
    EXPECT_EQ(QPoint(view->horizontalScrollBar()->value(), view->verticalScrollBar()->value()),
              panned);

    // The black point dragged up the histogram to the sky's level: the sky goes black.
    auto* histogram = Control<StretchHistogramView>(window, "StackHistogram");
    const StackStretch::Points automatic = histogram->points();
    const QImage before = shown();
    const int y = histogram->height() / 2;
    QTest::mousePress(histogram, Qt::LeftButton, {}, {histogram->xOf(automatic.black), y});
    QTest::mouseMove(histogram, {histogram->xOf(42), y});
    QTest::mouseRelease(histogram, Qt::LeftButton, {}, {histogram->xOf(42), y});
    settle();
    EXPECT_GT(histogram->points().black, automatic.black);
    EXPECT_DOUBLE_EQ(histogram->points().white, automatic.white);
    const QImage after = shown();
    EXPECT_EQ(after.size(), QSize(1280, 960));
    EXPECT_NE(after, before);
    // A patch of sky: grey before, black or nearly after.
    EXPECT_GT(before.pixelColor(100, 100).green(), 30);
    EXPECT_LT(after.pixelColor(100, 100).green(), before.pixelColor(100, 100).green() / 2);
}

} // namespace
} // namespace lumenvale
