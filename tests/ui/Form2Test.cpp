// The viewer window under the offscreen platform: menus, the image, the start-up steps, and
// File > Open and Save As with a scripted dialog.
#include "ui/Form2.h"
#include "platform/Pictures.h"
#include "support/RecordingMessages.h"
#include "support/ScriptedFileDialogs.h"
#include "support/SettingsPrinting.h"
#include "support/TempDirTest.h"
#include "ui/ProgramPictures.h"
#include "ui/ProgramState.h"
#include "ui/QtFileDialogs.h"

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace fs = std::filesystem;

namespace lumenvale {
namespace {

class Form2Test : public test::TempDirTest {
protected:
    QString name(const char* file) const { return QString::fromStdString((dir / file).string()); }

    Form2& open() {
        window_ = std::make_unique<Form2>(program_, messages_, dialogs_, BackgroundPicture(),
                                          dir / "config.dat");
        return *window_;
    }

    template <typename T> T* find(const char* objectName) const {
        return window_->findChild<T*>(QString::fromLatin1(objectName));
    }

    QLabel* image() const { return find<QLabel>("Image1"); }
    void trigger(const char* action) const { find<QAction>(action)->trigger(); }

    static QImage filled(int width, int height, QRgb colour) {
        QImage picture(width, height, QImage::Format_RGB888);
        picture.fill(colour);
        return picture;
    }

    ProgramState program_;
    test::RecordingMessages messages_;
    test::ScriptedFileDialogs dialogs_;
    std::unique_ptr<Form2> window_;
};

TEST_F(Form2Test, MenuBarHasTheNamedItemsAndCaptions) {
    open();
    const struct {
        const char* name;
        std::vector<std::pair<const char*, const char*>> items; // none: a command itself
    } menus[] = {
        {"File", {{"Open", "Open"}, {"Save", "Save As"}, {"Exit", "Exit"}}},
        {"Settings", {}},
        {"Camera", {{"Control", "Control"}, {"LiveStack", "Live stack"}, {"Video", "Video"}}},
        {"About", {{"Version", "Version"}}},
    };
    const QList<QAction*> top = window_->menuBar()->actions();
    ASSERT_EQ(top.size(), std::ssize(menus));
    for (std::size_t i = 0; i < std::size(menus); ++i) {
        const auto& m = menus[i];
        SCOPED_TRACE(m.name);
        EXPECT_EQ(top[i]->text(), QString::fromLatin1(m.name));
        QMenu* menu = top[i]->menu();
        if (m.items.empty()) {
            EXPECT_EQ(top[i]->objectName(), m.name);
            EXPECT_EQ(menu, nullptr);
            continue;
        }
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->objectName(), m.name);
        ASSERT_EQ(menu->actions().size(), std::ssize(m.items));
        for (std::size_t k = 0; k < m.items.size(); ++k) {
            EXPECT_EQ(menu->actions()[k]->objectName(), m.items[k].first);
            EXPECT_EQ(menu->actions()[k]->text(), m.items[k].second);
        }
    }
}

TEST_F(Form2Test, WindowHasItsCaptionClientAreaIconAndAMostlyWhite640By480Picture) {
    open().show();
    EXPECT_EQ(window_->objectName(), "Form2");
    EXPECT_EQ(window_->windowTitle(), "Lumenvale");
    EXPECT_FALSE(window_->windowIcon().isNull());
    EXPECT_EQ(window_->centralWidget()->size(), QSize(663, 500));
    EXPECT_FALSE(window_->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(window_->isModal());

    EXPECT_EQ(image()->geometry(), QRect(8, 8, 644, 484));
    EXPECT_EQ(image()->frameWidth(), 2);
    const QImage start = window_->Picture();
    ASSERT_EQ(start.size(), QSize(640, 480));
    EXPECT_EQ(start.depth(), 24);
    qint64 white = 0;
    for (int y = 0; y < start.height(); ++y) {
        for (int x = 0; x < start.width(); ++x) {
            white += start.pixel(x, y) == qRgb(255, 255, 255);
        }
    }
    EXPECT_GT(white, 640 * 480 * 9 / 10);
}

TEST_F(Form2Test, ImageTakesTheSizeOfItsPictureAtTheSameCorner) {
    open().show();
    const struct { int width, height; } sizes[] = {{100, 50}, {900, 700}, {640, 480}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(s.width);
        const QImage picture = filled(s.width, s.height, qRgb(1, 2, 3));
        window_->showPicture(picture);
        EXPECT_EQ(image()->geometry(), QRect(8, 8, s.width + 4, s.height + 4));
        EXPECT_EQ(window_->Picture(), picture);
        EXPECT_EQ(image()->pixmap().size(), QSize(s.width, s.height));
    }
    EXPECT_EQ(window_->centralWidget()->size(), QSize(663, 500))
        << "a large picture is cut off, the window does not grow";
}

TEST_F(Form2Test, CreationReadsTheSettingsAndOnlyPlainWindows2DropsTheBackground) {
    const Settings defaults = DefaultSettings();
    const struct {
        const char* what;
        std::optional<std::string> file; // none: no "config.dat"
        Settings expected;
        bool background;
        const char* message; // nullptr: none
    } cases[] = {
        {"plain 1", " 2 \r\n/data/frames\r\n 1 \r\n", {2, "/data/frames", 1}, true, nullptr},
        {"plain 0", " 1 \r\n/d\r\n 0 \r\n", {1, "/d", 0}, true, nullptr},
        {"plain 2", " 1 \r\n/d\r\n 2 \r\n", {1, "/d", 2}, false, nullptr},
        {"plain 3", " 1 \r\n/d\r\n 3 \r\n", {1, "/d", 3}, true, nullptr},
        {"no file: quietly the defaults", std::nullopt, defaults, true, nullptr},
        {"broken third line", " 2 \r\n/d\r\nplain\r\n", {2, "/d", 1}, true, "Line 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(dir / "config.dat");
        if (c.file) {
            make("config.dat", *c.file);
        }
        program_.ControlShown = 1;
        messages_.texts.clear();
        open();
        EXPECT_EQ(program_.settings, c.expected);
        EXPECT_EQ(program_.ControlShown, 0);
        EXPECT_EQ(window_->hasBackground(), c.background);
        EXPECT_EQ(window_->centralWidget()->palette().brush(QPalette::Window).texture().isNull(),
                  !c.background);
        ASSERT_EQ(messages_.texts.size(), c.message ? 1 : 0);
        if (c.message) {
            EXPECT_TRUE(messages_.texts[0].contains(c.message)) << messages_.texts[0].toStdString();
        }
        EXPECT_EQ(fs::exists(dir / "config.dat"), c.file.has_value()) << "reading writes nothing";
    }
}

TEST_F(Form2Test, CameraControlAsksForTheControlWindowOnceSettingsEveryTime) {
    open();
    QSignalSpy control(window_.get(), &Form2::controlRequested);
    QSignalSpy settings(window_.get(), &Form2::settingsRequested);
    trigger("Control");
    EXPECT_EQ(program_.ControlShown, 1);
    window_->showMinimized();
    trigger("Control");
    EXPECT_EQ(control.count(), 1);
    trigger("Settings");
    trigger("Settings");
    EXPECT_EQ(settings.count(), 2);
}

TEST_F(Form2Test, VersionShowsTheVersionMessage) {
    open();
    trigger("Version");
    ASSERT_EQ(messages_.texts.size(), 1);
    EXPECT_TRUE(messages_.texts[0].startsWith("Lumenvale version "))
        << messages_.texts[0].toStdString();
}

TEST_F(Form2Test, ExitClosesTheWindowAndTellsTheOthersOnce) {
    open().show();
    QSignalSpy closing(window_.get(), &Form2::closing);
    trigger("Exit");
    EXPECT_FALSE(window_->isVisible());
    window_->close();
    EXPECT_EQ(closing.count(), 1);
}

TEST_F(Form2Test, OpenShowsThePictureChosenAndKeepsItWhenCancelledOrFailing) {
    SavePicture(filled(100, 50, qRgb(0, 128, 255)), dir / "small.bmp");
    make("notes.bmp", "not a picture");
    open();
    dialogs_.answers = {name("small.bmp")};
    trigger("Open");
    EXPECT_EQ(dialogs_.asked, QStringList{"open pictures (*.bmp)"});
    EXPECT_EQ(image()->geometry(), QRect(8, 8, 104, 54));
    EXPECT_EQ(window_->Picture().pixel(50, 25), qRgb(0, 128, 255));
    EXPECT_TRUE(messages_.texts.isEmpty());

    const QImage before = window_->Picture();
    const struct {
        const char* what;
        QString answer;
        bool message;
    } cases[] = {
        {"cancelled", QString(), false},
        {"not a picture", name("notes.bmp"), true},
        {"missing", name("gone.bmp"), true},
        {"a directory", name(""), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        messages_.texts.clear();
        dialogs_.answers = {c.answer};
        trigger("Open");
        EXPECT_EQ(window_->Picture(), before);
        EXPECT_EQ(image()->geometry(), QRect(8, 8, 104, 54));
        ASSERT_EQ(messages_.texts.size(), c.message ? 1 : 0);
        if (c.message) {
            EXPECT_TRUE(messages_.texts[0].contains(c.answer)) << messages_.texts[0].toStdString();
        }
    }
}

TEST_F(Form2Test, SaveAsWritesExactlyTheNameTypedReplacingAnOldFileAndCancelWritesNothing) {
    open();
    window_->showPicture(filled(640, 480, qRgb(200, 10, 10)));
    make("frame", "old");
    dialogs_.answers = {name("frame"), QString()};
    trigger("Save");
    EXPECT_EQ(dialogs_.asked, QStringList{"save pictures (*.bmp)"});
    EXPECT_TRUE(messages_.texts.isEmpty());
    EXPECT_EQ(fs::file_size(dir / "frame"), 921654u);
    EXPECT_EQ(LoadPicture(dir / "frame").pixel(0, 0), qRgb(200, 10, 10));

    trigger("Save"); // cancelled after a name was chosen before
    EXPECT_EQ(entries(), 1U) << "only \"frame\", no \"frame.bmp\"";
    EXPECT_TRUE(messages_.texts.isEmpty());
}

TEST_F(Form2Test, SaveAsFailingNamesTheFileAndKeepsTheOldOne) {
    open();
    make("keep.bmp", "old");
    fs::create_directory(dir / "sub");
    const struct {
        const char* what;
        QString answer;
    } cases[] = {
        {"missing directory", name("nowhere/frame.bmp")},
        {"a directory", name("sub")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        messages_.texts.clear();
        dialogs_.answers = {c.answer};
        trigger("Save");
        ASSERT_EQ(messages_.texts.size(), 1);
        EXPECT_TRUE(messages_.texts[0].contains(c.answer)) << messages_.texts[0].toStdString();
    }
    EXPECT_EQ(entries(), 2U) << "keep.bmp and sub";
    EXPECT_EQ(image()->geometry(), QRect(8, 8, 644, 484));
}

TEST(QtFileDialogsTest, DialogsOfferOneFilterAndTakeAnyNameUnchanged) {
    const QString filter = QStringLiteral("pictures (*.bmp)");
    QFileDialog open;
    QtFileDialogs::configureForOpen(open, filter);
    EXPECT_EQ(open.acceptMode(), QFileDialog::AcceptOpen);
    QFileDialog save;
    QtFileDialogs::configureForSave(save, filter);
    EXPECT_EQ(save.acceptMode(), QFileDialog::AcceptSave);
    for (QFileDialog* dialog : {&open, &save}) {
        EXPECT_EQ(dialog->nameFilters(), QStringList{filter});
        EXPECT_EQ(dialog->fileMode(), QFileDialog::AnyFile);
        EXPECT_EQ(dialog->defaultSuffix(), QString());
        EXPECT_TRUE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    }
}

} // namespace
} // namespace lumenvale
