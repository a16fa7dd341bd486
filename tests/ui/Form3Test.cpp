// The Settings window on screen: its controls, its load steps, the clicks, the directory list
// and the closing, found by name and clicked as a user would.
#include "support/RecordingMessages.h"
#include "support/ScriptedAcquisition.h"

#include "ui/DirectoryList.h"
#include "ui/DirectoryListing.h"
#include "ui/Form3.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace lumenvale {
namespace {

namespace fs = std::filesystem;

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Remembers which window owned the source chooser.
class ChooserAcquisition : public test::ScriptedAcquisition {
public:
    std::int32_t TWAIN_SelectImageSource(QWidget* parent) override {
        owners.push_back(parent);
        return ScriptedAcquisition::TWAIN_SelectImageSource(parent);
    }
    std::vector<QWidget*> owners;
};

class Form3Test : public ::testing::Test {
protected:
    Form3Test() {
        fs::create_directories(root() / "sky" / "Andromeda");
        fs::create_directories(root() / "sky" / "moon");
        fs::create_directories(root() / "sky" / ".cache");
        settings.SaveDir = (root() / "sky").string();
        picture.fill(Qt::darkBlue);
    }

    fs::path root() const { return fs::path(dir.path().toStdString()); }
    fs::path file() const { return root() / "config.dat"; }
    QString q(const fs::path& p) const { return QString::fromStdString(p.string()); }

    Form3& open() {
        window = std::make_unique<Form3>(settings, messages, acquisition, picture, file());
        window->show();
        return *window;
    }

    template <typename T> T* control(const char* name) {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

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

    QTemporaryDir dir;
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

    struct Expected {
        const char* name;
        const char* caption;
        QRect place;
    };
    const Expected table[] = {
        {"Label2", "De-interlace order", {16, 8, 105, 17}},
        {"Option1", "Order 1", {16, 40, 57, 17}},
        {"Option2", "Order 2", {16, 72, 57, 17}},
        {"Line1", nullptr, {8, 96, 120, 1}},
        {"Command5", "Source", {8, 112, 121, 25}},
        {"Line2", nullptr, {8, 152, 120, 1}},
        {"Label1", "Save Dir", {16, 160, 57, 25}},
        {"Dir1", nullptr, {24, 200, 97, 51}},
        {"Line3", nullptr, {8, 264, 112, 1}},
        {"Check1", "Plain Windows", {16, 280, 105, 17}},
        {"Line4", nullptr, {8, 312, 112, 1}},
        {"Command1", "OK", {16, 320, 105, 33}},
    };
    for (const Expected& e : table) {
        auto* widget = control<QWidget>(e.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), e.place) << e.name;
        if (e.caption) {
            QString text;
            if (auto* label = qobject_cast<QLabel*>(widget)) {
                text = label->text();
            } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
                text = button->text();
            }
            EXPECT_EQ(text, QString::fromUtf8(e.caption)) << e.name;
        }
    }
    EXPECT_TRUE(control<QPushButton>("Command5")->isEnabled());
    EXPECT_TRUE(control<QPushButton>("Command1")->isEnabled());
}

TEST_F(Form3Test, TabGoesSourceOrdersListOkPlainWindows) {
    open();
    const char* order[] = {"Command5", "Option1", "Option2", "Dir1", "Command1", "Check1"};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        QWidget* next = control<QWidget>(order[i])->nextInFocusChain();
        while (next && next->focusPolicy() == Qt::NoFocus) {
            next = next->nextInFocusChain();
        }
        EXPECT_EQ(next, control<QWidget>(order[i + 1])) << "after " << order[i];
    }
}

TEST_F(Form3Test, OpensWithTheButtonOfTheStoredOrderAndStoresNothing) {
    for (auto [stored, option1] :
         {std::pair{1, true}, std::pair{2, false}, std::pair{0, true}, std::pair{5, true}}) {
        settings.DeinterlaceOrder = static_cast<std::int16_t>(stored);
        open();
        EXPECT_EQ(control<QRadioButton>("Option1")->isChecked(), option1) << stored;
        EXPECT_EQ(control<QRadioButton>("Option2")->isChecked(), !option1) << stored;
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

    // A click on the button already selected still stores its order: a stray 5 becomes 1.
    settings.DeinterlaceOrder = 5;
    QTest::mouseClick(option1, Qt::LeftButton);
    EXPECT_EQ(settings.DeinterlaceOrder, 1);

    window->close();
    EXPECT_EQ(readBytes(file()).substr(0, 5), " 1 \r\n");
}

TEST_F(Form3Test, PlainWindowsAtOpeningTicksTheBoxAndDropsThisWindowsPicture) {
    settings.PlainWindows = 2;
    open();
    EXPECT_TRUE(control<QCheckBox>("Check1")->isChecked());
    EXPECT_FALSE(window->hasBackground());
    EXPECT_EQ(settings.PlainWindows, 2);

    settings.PlainWindows = 1;
    open();
    EXPECT_FALSE(control<QCheckBox>("Check1")->isChecked());
    EXPECT_TRUE(window->hasBackground());
}

TEST_F(Form3Test, TickingPlainWindowsAndClosingAsksTheOtherWindowsOnce) {
    settings.PlainWindows = 1;
    open();
    QSignalSpy plain(window.get(), &Form3::plainWindowsClosed);
    QSignalSpy closed(window.get(), &Form3::closed);

    QTest::mouseClick(control<QCheckBox>("Check1"), Qt::LeftButton);
    EXPECT_EQ(settings.PlainWindows, 2);
    EXPECT_TRUE(window->hasBackground()) << "nothing changes before the window closes";
    EXPECT_EQ(plain.count(), 0);
    EXPECT_FALSE(fs::exists(file()));

    QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(plain.count(), 1);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(readBytes(file()), " 1 \r\n" + (root() / "sky").string() + "\r\n 2 \r\n");

    // Asked to close again (by the viewer's closing, say): nothing more happens.
    fs::remove(file());
    window->close();
    EXPECT_EQ(plain.count(), 1);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(fs::exists(file()));
}

TEST_F(Form3Test, UntickingPlainWindowsAndClosingWrites1AndAsksNothing) {
    settings.PlainWindows = 2;
    open();
    QSignalSpy plain(window.get(), &Form3::plainWindowsClosed);
    QTest::mouseClick(control<QCheckBox>("Check1"), Qt::LeftButton);
    EXPECT_EQ(settings.PlainWindows, 1);
    window->close();
    EXPECT_EQ(plain.count(), 0);
    EXPECT_FALSE(window->hasBackground()) << "the picture comes back only with a new window";
    EXPECT_EQ(readBytes(file()).substr(readBytes(file()).size() - 5), " 1 \r\n");
}

TEST_F(Form3Test, DoubleClickOpensADirectoryASingleClickOnlyMarksIt) {
    open();
    auto* list = control<DirectoryList>("Dir1");
    EXPECT_EQ(list->path(), q(root() / "sky"));

    QListWidgetItem* moon = entryFor(root() / "sky" / "moon");
    ASSERT_NE(moon, nullptr);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(moon));
    EXPECT_EQ(list->currentItem(), moon);
    EXPECT_EQ(list->path(), q(root() / "sky"));
    EXPECT_EQ(settings.SaveDir, (root() / "sky").string());

    QListWidgetItem* andromeda = entryFor(root() / "sky" / "Andromeda");
    ASSERT_NE(andromeda, nullptr);
    doubleClick(andromeda);
    EXPECT_EQ(list->path(), q(root() / "sky" / "Andromeda"));
    EXPECT_EQ(settings.SaveDir, (root() / "sky" / "Andromeda").string());

    // Up again through a parent entry; a marked entry is not taken on closing.
    QListWidgetItem* parent = entryFor(root());
    ASSERT_NE(parent, nullptr);
    doubleClick(parent);
    EXPECT_EQ(list->path(), q(root()));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(entryFor(root() / "sky")));
    window->close();
    EXPECT_EQ(readBytes(file()), " 1 \r\n" + root().string() + "\r\n 1 \r\n");
}

TEST_F(Form3Test, ReturnOpensTheMarkedDirectory) {
    open();
    auto* list = control<DirectoryList>("Dir1");
    list->setCurrentItem(entryFor(root() / "sky" / "moon"));
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(list->path(), q(root() / "sky" / "moon"));
    EXPECT_EQ(settings.SaveDir, (root() / "sky" / "moon").string());
}

TEST_F(Form3Test, OkAndTheCloseBoxWriteTheSameBytes) {
    settings.DeinterlaceOrder = 2;
    settings.PlainWindows = 2;
    settings.SaveDir = (root() / "sky" / ".." / "sky" / "").string();

    open();
    QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
    const std::string byOk = readBytes(file());
    fs::remove(file());

    open();
    window->close(); // what the close box does
    const std::string byCloseBox = readBytes(file());

    EXPECT_EQ(byOk, " 2 \r\n" + (root() / "sky").string() + "\r\n 2 \r\n");
    EXPECT_EQ(byCloseBox, byOk);
}

TEST_F(Form3Test, AVanishedSaveDirIsReportedAndTakenOnlyWhenTheWindowCloses) {
    const std::string gone = (root() / "sky" / "comet").string();
    settings.SaveDir = gone;
    open();
    EXPECT_EQ(control<DirectoryList>("Dir1")->path(), q(root() / "sky"));
    EXPECT_EQ(settings.SaveDir, gone);
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(messages.texts[0].contains(QString::fromStdString(gone)));

    window->close();
    EXPECT_EQ(settings.SaveDir, (root() / "sky").string());
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
    EXPECT_EQ(settings, (Settings{1, (root() / "sky").string(), 1})) << "nothing stored";
}

TEST(DirectoryListingTest, ShowsRootParentsPathThenVisibleSubdirectoriesSorted) {
    QTemporaryDir dir;
    const fs::path base = fs::path(dir.path().toStdString());
    for (const char* name : {"b", "A", "c", ".hidden"}) {
        fs::create_directories(base / "top" / name);
    }
    std::ofstream(base / "top" / "file.txt") << "not a directory";

    const auto entries = ListDirectory(QString::fromStdString((base / "top").string()));

    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.front(), (DirectoryEntry{QStringLiteral("/"), QStringLiteral("/"), 0}));
    int depth = 0;
    std::size_t i = 1;
    for (; entries[i].path != QString::fromStdString((base / "top").string()); ++i) {
        EXPECT_EQ(entries[i].depth, ++depth);
    }
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

TEST(DirectoryListingTest, TheRootListsItselfAndItsChildren) {
    const auto entries = ListDirectory(QStringLiteral("/"));
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[0].path, QStringLiteral("/"));
    EXPECT_EQ(entries[1].depth, 1);
    EXPECT_EQ(entries[1].path, QStringLiteral("/") + entries[1].name);
}

} // namespace
} // namespace lumenvale
