// The Live stack window's work without the window: a run of darks becomes the master dark the
// lights of its mode and exposure take, a light without one says so, and saving the stack
// writes its files or says why not, the stack going on either way.
#include "support/StarFields.h"
#include "support/TempDirTest.h"

#include "analysis/FitsPicture.h"
#include "analysis/LiveStackSession.h"

#include <QTimeZone>

#include <gtest/gtest.h>

using namespace lumenvale;
using namespace lumenvale::test;

namespace {

class LiveStackSessionTest : public TempDirTest {
protected:
    static LiveStackSession::Frame Frame(const FloatPicture& picture, std::int32_t exposureMs) {
        return {PictureOf(picture), "2x1 Binned", exposureMs,
                QDateTime(QDate(2026, 12, 8), QTime(1, 0), QTimeZone::utc())};
    }
    static QString Lines(const LiveStackSession::View& view) {
        return view.lines.join(QLatin1Char('|'));
    }
    LiveStackSession session{dir};
    std::vector<FieldStar> stars = RandomStars(45);
};

TEST_F(LiveStackSessionTest, DarksLightsAndSaving) {
    session.startRun(true, false);
    for (std::uint32_t i = 0; i < 5; ++i) {
        session.addFrame(Frame(StarField({}, {}, 12, 2, 10 + i), 30000));
    }
    const LiveStackSession::View darks = session.endRun();
    EXPECT_TRUE(Lines(darks).contains(QStringLiteral("Master dark of 5 frames saved")))
        << Lines(darks).toStdString();
    const FitsPicture master = FitsPicture::read(dir / "darks" / "dark-2x1-Binned-30000ms.fits");
    EXPECT_EQ(master.header.combined, 5);
    EXPECT_DOUBLE_EQ(master.header.exposureSeconds, 30);

    session.startRun(false, false);
    LiveStackSession::View view = session.addFrame(Frame(StarField(stars, {}, 40, 2, 1), 30000));
    EXPECT_TRUE(view.figures.contains(QStringLiteral("dark: dark-2x1-Binned-30000ms.fits")))
        << view.figures.toStdString();
    EXPECT_FALSE(view.stack.isNull());
    // Another exposure: no dark, said once, and the frame is still stacked.
    view = session.addFrame(Frame(StarField(stars, {2, 1}, 40, 2, 2), 45000));
    EXPECT_EQ(Lines(view), QStringLiteral("no dark for 2x1 Binned 45 s"));
    EXPECT_TRUE(view.figures.startsWith(QStringLiteral("2 stacked, 0 rejected, 75 s")))
        << view.figures.toStdString();
    view = session.addFrame(Frame(StarField({}, {}, 90, 3, 3), 45000));
    EXPECT_TRUE(Lines(view).contains(QStringLiteral("not stacked"))) << Lines(view).toStdString();

    view = session.save((dir / "gone").string(), QStringLiteral("image"));
    EXPECT_TRUE(Lines(view).contains(QStringLiteral("The stack was not saved")));
    // The PNG is the stack as the window shows it, with the user's black and white points.
    const QImage shown = session.setStretchPoints(StackStretch::Points{35, 60}).stack;
    view = session.save(dir.string(), QStringLiteral("image"));
    EXPECT_TRUE(Lines(view).contains(QStringLiteral("Stack of 2 frames saved")));
    EXPECT_EQ(QImage(QString::fromStdString((dir / "image-stack.png").string()))
                  .convertToFormat(QImage::Format_RGB888),
              shown);
    const FitsPicture stack = FitsPicture::read(dir / "image-stack.fits");
    EXPECT_EQ(stack.header.combined, 2);
    EXPECT_DOUBLE_EQ(stack.header.exposureSeconds, 75);
    EXPECT_EQ(stack.header.dateObs, "2026-12-08T00:59:30.000Z");

    // "Continue" keeps the stack into the next run; a new run without it starts afresh.
    EXPECT_TRUE(session.startRun(false, true).figures.startsWith(QStringLiteral("2 stacked")));
    EXPECT_TRUE(session.startRun(false, false).figures.startsWith(QStringLiteral("0 stacked")));
}

} // namespace
