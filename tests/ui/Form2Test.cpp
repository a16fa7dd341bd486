// The viewer window under the offscreen platform: menus, the image, the start-up steps, and
// File > Open and Save As with a scripted dialog.
#include "ui/Form2.h"
#include "platform/Pictures.h"
#include "settings/SettingsFile.h"
#include "support/RecordingMessages.h"
#include "support/ScriptedFileDialogs.h"
#include "support/SettingsPrinting.h"
#include "ui/ProgramPictures.h"
#include "ui/ProgramState.h"
#include "ui/QtFileDialogs.h"

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

namespace fs = std::filesystem;

namespace lumenvale {
namespace {

class Form2Test : public ::testing::Test {
protected:
    fs::path path(const char* name) const { return fs::path(dir_.path().toStdString()) / name; }
    QString name(const char* name) const { return QString::fromStdString(path(name).string()); }

    void writeSettings(const std::string& bytes) const {
        std::ofstream(path("config.dat"), std::ios::binary) << bytes;
    }

    Form2& open() {
        window_ = std::make_unique<Form2>(program_, messages_, dialogs_, BackgroundPicture(),
                                          path("config.dat"));
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

    QTemporaryDir dir_;
    ProgramState program_;
    test::RecordingMessages messages_;
    test::ScriptedFileDialogs dialogs_;
    std::unique_ptr<Form2> window_;
};

TEST_F(Form2Test, MenuBarHasTheNamedItemsAndCaptions) {
    open();
    QList<QAction*> top = window_->menuBar()->actions();
    ASSERT_EQ(top.size(), 4);
    const char* topNames[] = {"File", "Settings", "Camera", "About"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(top[i]->text(), QString::fromLatin1(topNames[i]));
    }
    EXPECT_EQ(top[1]->objectName(), "Settings");
    EXPECT_EQ(top[1]->menu(), nullptr) << "Settings is a command itself";

    const struct {
        const char* menu;
        std::vector<std::pair<const char*, const char*>> items;
    } menus[] = {
        {"File", {{"Open", "Open"}, {"Save", "Save As"}, {"Exit", "Exit"}}},
        {"Camera", {{"Control", "Control"}}},
        {"About", {{"Version", "Version"}}},
    };
    for (const auto& m : menus) {
        SCOPED_TRACE(m.menu);
        auto* menu = find<QMenu>(m.menu);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->title(), QString::fromLatin1(m.menu));
        ASSERT_EQ(menu->actions().size(), static_cast<qsizetype>(m.items.size()));
        for (std::size_t i = 0; i < m.items.size(); ++i) {
            EXPECT_EQ(menu->actions()[i]->objectName(), m.items[i].first);
            EXPECT_EQ(menu->actions()[i]->text(), m.items[i].second);
        }
    }
}

TEST_F(Form2Test, WindowHasItsCaptionClientAreaAndIcon) {
    open().show();
    EXPECT_EQ(window_->objectName(), "Form2");
    EXPECT_EQ(window_->windowTitle(), "Lumenvale");
    EXPECT_FALSE(window_->windowIcon().isNull());
    EXPECT_EQ(window_->centralWidget()->size(), QSize(663, 500));
    EXPECT_FALSE(window_->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(window_->isModal());
}

TEST_F(Form2Test, ImageStartsWithAMostlyWhite640By480Picture) {
    open();
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
        window_->ShowPicture(picture);
        EXPECT_EQ(image()->geometry(), QRect(8, 8, s.width + 4, s.height + 4));
        EXPECT_EQ(window_->Picture(), picture);
        EXPECT_EQ(image()->pixmap().size(), QSize(s.width, s.height));
    }
    EXPECT_EQ(window_->centralWidget()->size(), QSize(663, 500))
        << "a large picture is cut off, the window does not grow";
}

TEST_F(Form2Test, CreationReadsTheSettingsIntoTheProgramState) {
    program_.ControlShown = 1;
    writeSettings(" 2 \r\n/data/frames\r\n 1 \r\n");
    open();
    EXPECT_EQ(program_.settings, (Settings{2, "/data/frames", 1}));
    EXPECT_EQ(program_.ControlShown, 0);
    EXPECT_TRUE(messages_.texts.isEmpty());
}

TEST_F(Form2Test, OnlyPlainWindowsTwoDropsTheBackground) {
    const struct {
        const char* plain;
        bool background;
    } cases[] = {{"0", true}, {"1", true}, {"2", false}, {"3", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.plain);
        writeSettings(std::string(" 1 \r\n/d\r\n ") + c.plain + " \r\n");
        open();
        EXPECT_EQ(window_->hasBackground(), c.background);
        EXPECT_EQ(window_->centralWidget()->palette().brush(QPalette::Window).texture().isNull(),
                  !c.background);
    }
}

TEST_F(Form2Test, AMissingSettingsFileStartsQuietlyWithTheDefaults) {
    open();
    EXPECT_EQ(program_.settings, DefaultSettings());
    EXPECT_TRUE(messages_.texts.isEmpty());
    EXPECT_TRUE(window_->hasBackground());
    EXPECT_FALSE(fs::exists(path("config.dat")));
}

TEST_F(Form2Test, ABrokenSettingsFileIsNamedInOneMessage) {
    writeSettings(" 2 \r\n/d\r\nplain\r\n");
    open();
    ASSERT_EQ(messages_.texts.size(), 1);
    EXPECT_TRUE(messages_.texts[0].contains("Line 3")) << messages_.texts[0].toStdString();
    EXPECT_EQ(program_.settings, (Settings{2, "/d", 1}));
}

TEST_F(Form2Test, CameraControlAsksForTheControlWindowOnce) {
    open();
    QSignalSpy control(window_.get(), &Form2::controlRequested);
    trigger("Control");
    EXPECT_EQ(control.count(), 1);
    EXPECT_EQ(program_.ControlShown, 1);
    window_->showMinimized();
    trigger("Control");
    EXPECT_EQ(control.count(), 1);
}

TEST_F(Form2Test, SettingsAsksForTheSettingsWindowEveryTime) {
    open();
    QSignalSpy settings(window_.get(), &Form2::settingsRequested);
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

TEST_F(Form2Test, OpenShowsThePictureChosen) {
    SavePicture(filled(100, 50, qRgb(0, 128, 255)), path("small.bmp"));
    open();
    dialogs_.answers = {name("small.bmp")};
    trigger("Open");
    EXPECT_EQ(dialogs_.asked, QStringList{"open pictures (*.bmp)"});
    EXPECT_EQ(image()->geometry(), QRect(8, 8, 104, 54));
    EXPECT_EQ(window_->Picture().pixel(50, 25), qRgb(0, 128, 255));
    EXPECT_TRUE(messages_.texts.isEmpty());
}

TEST_F(Form2Test, OpenCancelledOrFailingKeepsThePicture) {
    std::ofstream(path("notes.bmp")) << "not a picture";
    open();
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
        EXPECT_EQ(image()->geometry(), QRect(8, 8, 644, 484));
        ASSERT_EQ(messages_.texts.size(), c.message ? 1 : 0);
        if (c.message) {
            EXPECT_TRUE(messages_.texts[0].contains(c.answer)) << messages_.texts[0].toStdString();
        }
    }
}

TEST_F(Form2Test, SaveAsWritesExactlyTheNameTypedReplacingAnOldFile) {
    open();
    window_->ShowPicture(filled(640, 480, qRgb(200, 10, 10)));
    std::ofstream(path("frame")) << "old";
    dialogs_.answers = {name("frame")};
    trigger("Save");
    EXPECT_EQ(dialogs_.asked, QStringList{"save pictures (*.bmp)"});
    EXPECT_TRUE(messages_.texts.isEmpty());
    EXPECT_EQ(fs::file_size(path("frame")), 921654u);
    EXPECT_FALSE(fs::exists(path("frame.bmp")));
    EXPECT_EQ(LoadPicture(path("frame")).pixel(0, 0), qRgb(200, 10, 10));
}

TEST_F(Form2Test, SaveAsCancelledWritesNothing) {
    open();
    dialogs_.answers = {name("first.bmp"), QString()};
    trigger("Save");
    trigger("Save");
    EXPECT_EQ(std::distance(fs::directory_iterator(path("")), {}), 1) << "only first.bmp";
    EXPECT_TRUE(messages_.texts.isEmpty());
}

TEST_F(Form2Test, SaveAsFailingNamesTheFileAndKeepsTheOldOne) {
    open();
    std::ofstream(path("keep.bmp")) << "old";
    fs::create_directory(path("sub"));
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
    EXPECT_EQ(std::distance(fs::directory_iterator(path("")), {}), 2) << "keep.bmp and sub";
    EXPECT_EQ(image()->geometry(), QRect(8, 8, 644, 484));
}

TEST(QtFileDialogsTest, DialogsOfferOneFilterAndTakeAnyNameUnchanged) {
    const QString filter = QStringLiteral("pictures (*.bmp)");
    QFileDialog open;
    QtFileDialogs::ConfigureForOpen(open, filter);
    EXPECT_EQ(open.acceptMode(), QFileDialog::AcceptOpen);
    QFileDialog save;
    QtFileDialogs::ConfigureForSave(save, filter);
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
