// The Settings window on screen: its controls, its load steps, the clicks, the directory list
// and the closing, found by name and clicked as a user would.
#include "support/RecordingMessages.h"
#include "support/ScriptedAcquisition.h"
#include "support/TempDirTest.h"
#include "support/WindowControls.h"

#include "ui/DirectoryList.h"
#include "ui/DirectoryListing.h"
#include "ui/Form3.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace lumenvale {
namespace {

namespace fs = std::filesystem;

// Remembers which window owned the source chooser.
class ChooserAcquisition : public test::ScriptedAcquisition {
public:
    std::int32_t TWAIN_SelectImageSource(QWidget* parent) override {
        owners.push_back(parent);
        return ScriptedAcquisition::TWAIN_SelectImageSource(parent);
    }
    std::vector<QWidget*> owners;
};

class Form3Test : public test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        fs::create_directories(dir / "sky" / "Andromeda");
        fs::create_directories(dir / "sky" / "moon");
        fs::create_directories(dir / "sky" / ".cache");
        settings.SaveDir = (dir / "sky").string();
        picture.fill(Qt::darkBlue);
    }

    fs::path file() const { return dir / "config.dat"; }
    QString q(const fs::path& p) const { return QString::fromStdString(p.string()); }

    Form3& open() {
        window = std::make_unique<Form3>(settings, messages, acquisition, picture, file());
        window->show();
        return *window;
    }

    template <typename T> T* control(const char* name) { return test::Control<T>(*window, name); }

    QListWidgetItem* entryFor(const fs::path& path) {
        auto* list = control<DirectoryList>("Dir1");
        for (int row = 0; row < list->count(); ++row) {
            if (list->item(row)->data(Qt::UserRole).toString() == q(path)) {
                list->scrollToItem(list->item(row));
                return list->item(row);
            }
        }
        ADD_FAILURE() << "no entry " << path;
        return nullptr;
    }

    QPoint centreOf(QListWidgetItem* item) {
        // The names run wider than the narrow list; aim near their start.
        const QRect rect = control<DirectoryList>("Dir1")->visualItemRect(item);
        return {rect.left() + 10, rect.center().y()};
    }

    // What the mouse sends for a double-click: a click, then the second press as a double-click.
    void doubleClick(QListWidgetItem* item) {
        // The list is filled anew when an entry opens, so the item is gone after the second press.
        QWidget* viewport = control<DirectoryList>("Dir1")->viewport();
        const QPoint at = centreOf(item);
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
    }

    Settings settings;
    test::RecordingMessages messages;
    ChooserAcquisition acquisition;
    QPixmap picture{32, 32};
    std::unique_ptr<Form3> window;
};

TEST_F(Form3Test, ControlsStandWhereTheWindowDefinitionPutsThem) {
    open();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Settings"));
    EXPECT_EQ(window->size(), QSize(140, 362));
    test::ExpectPlaced(*window, {
                                    {"Label2", "De-interlace order", 240, 120, 1575, 255},
                                    {"Option1", "Order 1", 240, 600, 855, 255},
                                    {"Option2", "Order 2", 240, 1080, 855, 255},
                                    {"Line1", nullptr, 120, 1440, 1800, 15},
                                    {"Command5", "Source", 120, 1680, 1815, 375},
                                    {"Line2", nullptr, 120, 2280, 1800, 15},
                                    {"Label1", "Save Dir", 240, 2400, 855, 375},
                                    {"Dir1", nullptr, 360, 3000, 1455, 765},
                                    {"Line3", nullptr, 120, 3960, 1680, 15},
                                    {"Check1", "Plain Windows", 240, 4200, 1575, 255},
                                    {"Line4", nullptr, 120, 4680, 1680, 15},
                                    {"Command1", "OK", 240, 4800, 1575, 495},
                                });
    EXPECT_TRUE(control<QPushButton>("Command5")->isEnabled());
    EXPECT_TRUE(control<QPushButton>("Command1")->isEnabled());
    EXPECT_EQ(
        test::TabOrder(*window, "Command5"),
        (std::vector<std::string>{"Command5", "Option1", "Option2", "Dir1", "Command1", "Check1"}));
}

// Only 2 exchanges the hi-res fields, so every other value shows as Order 1; selecting the
// button from code must not store anything.
TEST_F(Form3Test, OpensWithTheButtonOfTheStoredOrderAndStoresNothing) {
    for (const std::int16_t stored : {1, 2, 0, 5, -2, 32767}) {
        SCOPED_TRACE(stored);
        settings.DeinterlaceOrder = stored;
        open();
        EXPECT_EQ(control<QRadioButton>("Option1")->isChecked(), stored != 2);
        EXPECT_EQ(control<QRadioButton>("Option2")->isChecked(), stored == 2);
        EXPECT_EQ(settings.DeinterlaceOrder, stored);
    }
}

TEST_F(Form3Test, ClickingAnOrderButtonStoresItsOwnOrderAndClearsTheOther) {
    settings.DeinterlaceOrder = 1;
    open();
    auto* option1 = control<QRadioButton>("Option1");
    auto* option2 = control<QRadioButton>("Option2");

    QTest::mouseClick(option2, Qt::LeftButton);
    EXPECT_EQ(settings.DeinterlaceOrder, 2);
    EXPECT_FALSE(option1->isChecked());
    EXPECT_TRUE(option2->isChecked());

    QTest::mouseClick(option1, Qt::LeftButton);
    EXPECT_EQ(settings.DeinterlaceOrder, 1);
    EXPECT_TRUE(option1->isChecked());
    EXPECT_FALSE(option2->isChecked());

    // A click stores its button's order whatever was stored: a stray 5 or 7 becomes 1 or 2.
    settings.DeinterlaceOrder = 5;
    QTest::mouseClick(option1, Qt::LeftButton);
    EXPECT_EQ(settings.DeinterlaceOrder, 1);
    settings.DeinterlaceOrder = 7;
    QTest::mouseClick(option2, Qt::LeftButton);
    EXPECT_EQ(settings.DeinterlaceOrder, 2);
    QTest::mouseClick(option1, Qt::LeftButton);

    window->close();
    EXPECT_EQ(read(file()).substr(0, 5), " 1 \r\n");
}

TEST_F(Form3Test, OnlyPlainWindows2AtOpeningTicksTheBoxAndDropsThisWindowsPicture) {
    for (const std::int16_t stored : {2, 1, 0, 3}) {
        SCOPED_TRACE(stored);
        settings.PlainWindows = stored;
        open();
        EXPECT_EQ(control<QCheckBox>("Check1")->isChecked(), stored == 2);
        EXPECT_EQ(window->hasBackground(), stored != 2);
        EXPECT_EQ(settings.PlainWindows, stored);
    }
}

// Ticked, the closing asks the other windows to drop their pictures; unticked, it asks nothing
// and this window's picture stays as it was until a new window is made.
TEST_F(Form3Test, ClickingPlainWindowsStoresItAndOnlyTheClosingActsOnIt) {
    for (const std::int16_t before : {1, 2}) {
        SCOPED_TRACE(before);
        const std::int16_t after = before == 2 ? 1 : 2;
        fs::remove(file());
        settings.PlainWindows = before;
        open();
        QSignalSpy plain(window.get(), &Form3::plainWindowsClosed);
        QSignalSpy closed(window.get(), &Form3::closed);

        QTest::mouseClick(control<QCheckBox>("Check1"), Qt::LeftButton);
        EXPECT_EQ(settings.PlainWindows, after);
        EXPECT_EQ(window->hasBackground(), before != 2) << "nothing changes before closing";
        EXPECT_EQ(plain.count(), 0);
        EXPECT_FALSE(fs::exists(file()));

        QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(plain.count(), after == 2 ? 1 : 0);
        EXPECT_EQ(closed.count(), 1);
        EXPECT_EQ(window->hasBackground(), before != 2);
        EXPECT_EQ(read(file()),
                  " 1 \r\n" + (dir / "sky").string() + "\r\n " + std::to_string(after) + " \r\n");

        // Asked to close again (by the viewer's closing, say): nothing more happens.
        fs::remove(file());
        window->close();
        EXPECT_EQ(plain.count(), after == 2 ? 1 : 0);
        EXPECT_EQ(closed.count(), 1);
        EXPECT_FALSE(fs::exists(file()));
    }
}

TEST_F(Form3Test, DoubleClickOpensADirectoryASingleClickOnlyMarksIt) {
    open();
    auto* list = control<DirectoryList>("Dir1");
    EXPECT_EQ(list->path(), q(dir / "sky"));

    QListWidgetItem* moon = entryFor(dir / "sky" / "moon");
    ASSERT_NE(moon, nullptr);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(moon));
    EXPECT_EQ(list->currentItem(), moon);
    EXPECT_EQ(list->path(), q(dir / "sky"));
    EXPECT_EQ(settings.SaveDir, (dir / "sky").string());

    QListWidgetItem* andromeda = entryFor(dir / "sky" / "Andromeda");
    ASSERT_NE(andromeda, nullptr);
    doubleClick(andromeda);
    EXPECT_EQ(list->path(), q(dir / "sky" / "Andromeda"));
    EXPECT_EQ(settings.SaveDir, (dir / "sky" / "Andromeda").string());

    // Up again through a parent entry; a marked entry is not taken on closing.
    QListWidgetItem* parent = entryFor(dir);
    ASSERT_NE(parent, nullptr);
    doubleClick(parent);
    EXPECT_EQ(list->path(), q(dir));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(entryFor(dir / "sky")));
    window->close();
    EXPECT_EQ(read(file()), " 1 \r\n" + dir.string() + "\r\n 1 \r\n");
}

TEST_F(Form3Test, ReturnOpensTheMarkedDirectory) {
    open();
    auto* list = control<DirectoryList>("Dir1");
    list->setCurrentItem(entryFor(dir / "sky" / "moon"));
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(list->path(), q(dir / "sky" / "moon"));
    EXPECT_EQ(settings.SaveDir, (dir / "sky" / "moon").string());
}

TEST_F(Form3Test, OkAndTheCloseBoxWriteTheSameBytes) {
    settings.DeinterlaceOrder = 2;
    settings.PlainWindows = 2;
    settings.SaveDir = (dir / "sky" / ".." / "sky" / "").string();

    open();
    QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
    const std::string byOk = read(file());
    fs::remove(file());

    open();
    window->close(); // what the close box does
    const std::string byCloseBox = read(file());

    EXPECT_EQ(byOk, " 2 \r\n" + (dir / "sky").string() + "\r\n 2 \r\n");
    EXPECT_EQ(byCloseBox, byOk);
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(Form3Test, AVanishedSaveDirIsReportedAndTakenOnlyWhenTheWindowCloses) {
    const std::string gone = (dir / "sky" / "comet").string();
    settings.SaveDir = gone;
    open();
    EXPECT_EQ(control<DirectoryList>("Dir1")->path(), q(dir / "sky"));
    EXPECT_EQ(settings.SaveDir, gone);
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(messages.texts[0].contains(QString::fromStdString(gone)));

    window->close();
    EXPECT_EQ(settings.SaveDir, (dir / "sky").string());
}

TEST_F(Form3Test, AFailedWriteIsReportedAndTheWindowStillCloses) {
    fs::create_directory(file()); // nothing can be written under that name
    settings.PlainWindows = 2;
    open();
    QSignalSpy plain(window.get(), &Form3::plainWindowsClosed);
    QSignalSpy closed(window.get(), &Form3::closed);
    window->close();
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(messages.texts[0].contains(q(file())));
    EXPECT_EQ(plain.count(), 1);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(Form3Test, SourceOpensTheChooserOwnedByThisWindow) {
    open();
    QTest::mouseClick(control<QPushButton>("Command5"), Qt::LeftButton);
    ASSERT_EQ(acquisition.owners.size(), 1u);
    EXPECT_EQ(acquisition.owners[0], window.get());
    EXPECT_EQ(settings, (Settings{1, (dir / "sky").string(), 1})) << "nothing stored";
}

using DirectoryListingTest = test::TempDirTest;

TEST_F(DirectoryListingTest, ShowsRootParentsPathThenVisibleSubdirectoriesSorted) {
    for (const char* name : {"b", "A", "c", ".hidden"}) {
        fs::create_directories(dir / "top" / name);
    }
    make("top/file.txt", "not a directory");
    const QString top = QString::fromStdString((dir / "top").string());

    const auto entries = ListDirectory(top);

    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.front(), (DirectoryEntry{QStringLiteral("/"), QStringLiteral("/"), 0}));
    int depth = 0;
    std::size_t i = 1;
    for (; i < entries.size() && entries[i].path != top; ++i) {
        EXPECT_EQ(entries[i].depth, ++depth);
    }
    ASSERT_LT(i, entries.size()) << "the path itself is listed";
    const int pathDepth = entries[i].depth;
    EXPECT_EQ(entries[i].name, QStringLiteral("top"));
    ASSERT_EQ(entries.size(), i + 4);
    QStringList children;
    for (std::size_t k = i + 1; k < entries.size(); ++k) {
        EXPECT_EQ(entries[k].depth, pathDepth + 1);
        children << entries[k].name;
    }
    EXPECT_EQ(children, (QStringList{"A", "b", "c"}));
}

TEST_F(DirectoryListingTest, TheRootListsItselfAndItsChildren) {
    const auto entries = ListDirectory(QStringLiteral("/"));
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[0].path, QStringLiteral("/"));
    EXPECT_EQ(entries[1].depth, 1);
    EXPECT_EQ(entries[1].path, QStringLiteral("/") + entries[1].name);
}

} // namespace
} // namespace lumenvale
