// The Settings window's handling of the settings, driven without the window.
#include "support/RecordingMessages.h"

#include "ui/SettingsEditor.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace lumenvale {
namespace {

namespace fs = std::filesystem;

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SettingsEditorTest : public ::testing::Test {
protected:
    SettingsEditorTest() {
        settings.SaveDir = root().string();
        fs::create_directories(root() / "frames" / "night1");
    }

    fs::path root() const { return fs::path(dir.path().toStdString()); }
    fs::path file() const { return root() / "config.dat"; }
    QString q(const fs::path& p) const { return QString::fromStdString(p.string()); }

    QTemporaryDir dir;
    Settings settings;
    test::RecordingMessages messages;
    SettingsEditor editor{settings, messages, file()};
};

struct OrderCase {
    std::int16_t stored;
    int shownOption;
};

class OrderShownTest : public SettingsEditorTest,
                       public ::testing::WithParamInterface<OrderCase> {};

// Only 2 exchanges the hi-res fields, so every other value looks like Order 1; opening the
// window never changes what is stored.
TEST_P(OrderShownTest, OpeningShowsTheButtonOfTheStoredOrderAndKeepsTheValue) {
    settings.DeinterlaceOrder = GetParam().stored;
    const SettingsEditor::Opening opening = editor.Open();
    EXPECT_EQ(opening.selectedOption, GetParam().shownOption);
    EXPECT_EQ(settings.DeinterlaceOrder, GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Orders, OrderShownTest,
                         ::testing::Values(OrderCase{1, 1}, OrderCase{2, 2}, OrderCase{0, 1},
                                           OrderCase{5, 1}, OrderCase{-2, 1}, OrderCase{32767, 1}));

TEST_F(SettingsEditorTest, EachButtonStoresTheOrderItShows) {
    for (std::int16_t before : {std::int16_t{1}, std::int16_t{2}, std::int16_t{7}}) {
        settings.DeinterlaceOrder = before;
        editor.OptionClicked(1);
        EXPECT_EQ(settings.DeinterlaceOrder, 1) << "from " << before;
        EXPECT_EQ(SettingsEditor::OptionForOrder(settings.DeinterlaceOrder), 1);
        settings.DeinterlaceOrder = before;
        editor.OptionClicked(2);
        EXPECT_EQ(settings.DeinterlaceOrder, 2) << "from " << before;
        EXPECT_EQ(SettingsEditor::OptionForOrder(settings.DeinterlaceOrder), 2);
    }
}

TEST_F(SettingsEditorTest, PlainWindowsFollowsTheBoxAndIsShownTickedOnlyFor2) {
    editor.PlainWindowsClicked(true);
    EXPECT_EQ(settings.PlainWindows, 2);
    editor.PlainWindowsClicked(false);
    EXPECT_EQ(settings.PlainWindows, 1);

    for (auto [stored, ticked] :
         {std::pair{2, true}, std::pair{1, false}, std::pair{0, false}, std::pair{3, false}}) {
        settings.PlainWindows = static_cast<std::int16_t>(stored);
        EXPECT_EQ(editor.Open().plainTicked, ticked) << stored;
        EXPECT_EQ(settings.PlainWindows, stored);
    }
}

TEST_F(SettingsEditorTest, AnExistingSaveDirIsStoredInTheListsForm) {
    settings.SaveDir = (root() / "frames" / "." / "night1" / "").string() + "/";
    const SettingsEditor::Opening opening = editor.Open();
    const QString expected = q(root() / "frames" / "night1");
    EXPECT_EQ(opening.listPath, expected);
    EXPECT_EQ(settings.SaveDir, expected.toStdString());
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(SettingsEditorTest, ARelativeSaveDirIsTakenFromTheCurrentDirectory) {
    settings.SaveDir = ".";
    EXPECT_EQ(editor.Open().listPath, QDir::currentPath());
    EXPECT_EQ(settings.SaveDir, QDir::currentPath().toStdString());
}

TEST_F(SettingsEditorTest, AVanishedSaveDirShowsTheNearestParentAndChangesOnlyOnClosing) {
    const std::string gone = (root() / "frames" / "night2" / "deeper").string();
    settings.SaveDir = gone;
    const SettingsEditor::Opening opening = editor.Open();

    EXPECT_EQ(opening.listPath, q(root() / "frames"));
    EXPECT_EQ(settings.SaveDir, gone);
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(messages.texts[0].contains(QString::fromStdString(gone)));
    EXPECT_TRUE(messages.texts[0].contains(opening.listPath));

    editor.Close(opening.listPath);
    EXPECT_EQ(settings.SaveDir, (root() / "frames").string());
}

TEST_F(SettingsEditorTest, ASaveDirThatIsAFileShowsTheDirectoryHoldingIt) {
    std::ofstream(root() / "frames" / "notes.txt") << "x";
    settings.SaveDir = (root() / "frames" / "notes.txt").string();
    EXPECT_EQ(editor.Open().listPath, q(root() / "frames"));
    EXPECT_EQ(messages.texts.size(), 1);
}

TEST_F(SettingsEditorTest, AnEmptySaveDirShowsTheCurrentDirectory) {
    settings.SaveDir.clear();
    const SettingsEditor::Opening opening = editor.Open();
    EXPECT_EQ(opening.listPath, QDir::currentPath());
    EXPECT_TRUE(settings.SaveDir.empty());
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(messages.texts[0].contains(QDir::currentPath()));
}

TEST_F(SettingsEditorTest, ClosingStoresTheListsPathAndWritesTheThreeLines) {
    std::ofstream(file(), std::ios::binary) << "old content that is longer than the new one\r\n"
                                               "and has more lines\r\n\r\n\r\n";
    settings.DeinterlaceOrder = 2;
    settings.PlainWindows = 1;
    editor.PathChanged(q(root() / "frames"));
    EXPECT_EQ(settings.SaveDir, (root() / "frames").string());

    EXPECT_FALSE(editor.Close(q(root() / "frames" / "night1")));
    EXPECT_EQ(settings.SaveDir, (root() / "frames" / "night1").string());
    EXPECT_EQ(readBytes(file()),
              " 2 \r\n" + (root() / "frames" / "night1").string() + "\r\n 1 \r\n");
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(SettingsEditorTest, ClosingWithPlainWindowsOnAsksForTheBackgroundsToGo) {
    settings.PlainWindows = 2;
    EXPECT_TRUE(editor.Close(q(root())));
    EXPECT_EQ(readBytes(file()), " 1 \r\n" + root().string() + "\r\n 2 \r\n");
}

TEST_F(SettingsEditorTest, AFileThatCannotBeWrittenIsReportedAndTheSettingsStay) {
    // A directory where the file should be: the write fails whoever runs the test.
    fs::create_directory(root() / "blocked");
    fs::create_directory(root() / "blocked" / "config.dat");
    std::ofstream(root() / "blocked" / "config.dat" / "keep") << "kept";
    SettingsEditor blocked(settings, messages, root() / "blocked" / "config.dat");
    settings.DeinterlaceOrder = 2;
    settings.PlainWindows = 2;

    EXPECT_TRUE(blocked.Close(q(root() / "frames")));

    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(messages.texts[0].contains(q(root() / "blocked" / "config.dat")));
    EXPECT_EQ(settings.DeinterlaceOrder, 2);
    EXPECT_EQ(settings.PlainWindows, 2);
    EXPECT_EQ(settings.SaveDir, (root() / "frames").string());
    EXPECT_EQ(readBytes(root() / "blocked" / "config.dat" / "keep"), "kept");
    EXPECT_EQ(std::distance(fs::directory_iterator(root() / "blocked"), fs::directory_iterator()),
              1)
        << "no temporary file left behind";
}

TEST_F(SettingsEditorTest, AFileInAMissingDirectoryIsReportedByName) {
    SettingsEditor nowhere(settings, messages, root() / "missing" / "config.dat");
    nowhere.Close(q(root()));
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(messages.texts[0].contains(QStringLiteral("config.dat")));
    EXPECT_FALSE(fs::exists(root() / "missing"));
}

} // namespace
} // namespace lumenvale
