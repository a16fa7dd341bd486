// The acquisition dialog confirmed by a window timer's Return keystroke, as the readout timer
// does it: the timer must fire inside the dialog's own event loop, and the keystroke must
// reach the dialog's default button.
#include "support/TempDirTest.h"
#include "support/TestServices.h"

#include "platform/Keystrokes.h"
#include "platform/WindowTimers.h"

#include <QDialog>
#include <QWidget>
#include <gtest/gtest.h>

#include <filesystem>

using namespace lumenvale;
using namespace lumenvale::test;

namespace {

struct AcquisitionDialogTest : TempDirTest {
    TestServices services;
    QWidget window;
    int ticks = 0;

    AcquisitionDialogTest() { services.acquisition.directory = dir; }

    // Arms a timer that sends Return on its first tick only, then acquires.
    std::int32_t acquireWithEnterTimer(const std::string& name, unsigned intervalMs = 1) {
        ticks = 0;
        services.timers.SetTimer(&window, 0, intervalMs, [this](QWidget*, unsigned, auto, auto) {
            if (ticks++ == 0) {
                services.keys.sendEnter();
            }
        });
        const auto result = services.acquisition.TWAIN_AcquireToFilename(&window, name);
        services.timers.KillTimer(&window, 0);
        return result;
    }

    QByteArray fileBytes(const char* name) const {
        return QByteArray::fromStdString(read(dir / name));
    }
};

} // namespace

TEST_F(AcquisitionDialogTest, ReturnFromTheTimerConfirmsAndWritesTheFrame) {
    const QByteArray frame = ScriptedAcquisition::BmpBytes(QImage(640, 480, QImage::Format_RGB888));
    services.acquisition.script.push_back(ScriptedAcquisition::Confirm(frame));

    EXPECT_EQ(acquireWithEnterTimer("temp.bmp"), AcquireOk);

    EXPECT_GE(ticks, 1);
    EXPECT_EQ(services.keys.enters, 1);
    ASSERT_EQ(services.acquisition.calls.size(), 1U);
    EXPECT_EQ(services.acquisition.calls[0].parent, &window);
    EXPECT_TRUE(services.acquisition.calls[0].wroteFile);
    EXPECT_FALSE(services.acquisition.calls[0].timedOut);
    EXPECT_EQ(fileBytes("temp.bmp"), frame);
    EXPECT_EQ(services.timers.activeCount(), 0U);
}

TEST_F(AcquisitionDialogTest, ScriptedStepsFollowEachOtherThenTheFallbackServes) {
    services.acquisition.script.push_back(ScriptedAcquisition::Cancel());
    services.acquisition.script.push_back(ScriptedAcquisition::Fail(AcquireNoFrameInTime));
    services.acquisition.script.push_back(ScriptedAcquisition::ReturnAtOnce());

    EXPECT_EQ(acquireWithEnterTimer("a.bmp", 50), AcquireCancelled);
    EXPECT_EQ(acquireWithEnterTimer("b.bmp", 50), AcquireNoFrameInTime);
    EXPECT_EQ(acquireWithEnterTimer("c.bmp", 1), AcquireOk);
    EXPECT_EQ(ticks, 0) << "returning at once handles no event, so no tick";
    EXPECT_EQ(acquireWithEnterTimer("d.bmp", 1), AcquireOk);

    EXPECT_FALSE(std::filesystem::exists(dir / "a.bmp"));
    EXPECT_FALSE(std::filesystem::exists(dir / "b.bmp"));
    EXPECT_EQ(fileBytes("c.bmp"), services.acquisition.defaultFrame);
    EXPECT_EQ(fileBytes("d.bmp"), services.acquisition.defaultFrame);
    EXPECT_EQ(services.acquisition.fileNames(),
              (std::vector<std::string>{"a.bmp", "b.bmp", "c.bmp", "d.bmp"}));
}

TEST_F(AcquisitionDialogTest, CallbackRunsWhileTheDialogIsOpen) {
    bool sawDialog = false;
    auto step = ScriptedAcquisition::Confirm();
    step.whileOpen = [&](QDialog& dialog) {
        sawDialog = dialog.isVisible() && dialog.parentWidget() == &window;
    };
    services.acquisition.script.push_back(step);

    EXPECT_EQ(acquireWithEnterTimer("temp.bmp", 50), AcquireOk);
    EXPECT_TRUE(sawDialog);
}

TEST_F(AcquisitionDialogTest, UnconfirmedDialogGivesUpInsteadOfHanging) {
    services.acquisition.dialogTimeoutMs = 50;
    EXPECT_EQ(services.acquisition.TWAIN_AcquireToFilename(&window, "temp.bmp"), AcquireCancelled);
    ASSERT_EQ(services.acquisition.calls.size(), 1U);
    EXPECT_TRUE(services.acquisition.calls[0].timedOut);
    EXPECT_FALSE(std::filesystem::exists(dir / "temp.bmp"));
}
