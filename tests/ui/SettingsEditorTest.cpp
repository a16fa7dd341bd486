// The Settings window's handling of the save directory and of a settings file that cannot be
// written, driven without the window.
#include "support/RecordingMessages.h"
#include "support/SettingsPrinting.h"
#include "support/TempDirTest.h"

#include "ui/SettingsEditor.h"

#include <QDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace lumenvale {
namespace {

namespace fs = std::filesystem;

class SettingsEditorTest : public test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        fs::create_directories(dir / "frames" / "night1");
        make("frames/notes.txt", "x");
    }

    QString q(const fs::path& p) const { return QString::fromStdString(p.string()); }

    Settings settings;
    test::RecordingMessages messages;
};

// An existing directory is taken in the list's own form at once. Anything else is left as it
// is until the window closes; the list shows the nearest directory there is, and says so.
TEST_F(SettingsEditorTest, OpeningShowsTheSaveDirOrTheNearestDirectoryThereIs) {
    const QString here = QDir::currentPath();
    const struct {
        const char* what;
        std::string saveDir;
        QString listPath;
        std::string storedAfter;
        bool message;
    } cases[] = {
        {"existing, untidy", (dir / "frames" / "." / "night1" / "").string() + "/",
         q(dir / "frames" / "night1"), (dir / "frames" / "night1").string(), false},
        {"relative", ".", here, here.toStdString(), false},
        {"vanished", (dir / "frames" / "night2" / "deeper").string(), q(dir / "frames"),
         (dir / "frames" / "night2" / "deeper").string(), true},
        {"a file", (dir / "frames" / "notes.txt").string(), q(dir / "frames"),
         (dir / "frames" / "notes.txt").string(), true},
        {"empty", "", here, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        messages.texts.clear();
        settings.SaveDir = c.saveDir;
        const SettingsEditor::Opening opening =
            SettingsEditor(settings, messages, dir / "config.dat").open();
        EXPECT_EQ(opening.listPath, c.listPath);
        EXPECT_EQ(settings.SaveDir, c.storedAfter);
        ASSERT_EQ(messages.texts.size(), c.message ? 1U : 0U);
        if (c.message) {
            EXPECT_TRUE(messages.texts[0].contains(QString::fromStdString(c.saveDir)));
            EXPECT_TRUE(messages.texts[0].contains(c.listPath)) << messages.texts[0].toStdString();
        }
    }
}

TEST_F(SettingsEditorTest, AFileThatCannotBeWrittenIsNamedAndTheSettingsStay) {
    // A directory where the file should be, and a directory that is missing: the write fails
    // whoever runs the test.
    fs::create_directories(dir / "blocked" / "config.dat");
    make("blocked/config.dat/keep", "kept");
    for (const fs::path& file : {dir / "blocked" / "config.dat", dir / "missing" / "config.dat"}) {
        SCOPED_TRACE(file);
        messages.texts.clear();
        settings = {2, "/elsewhere", 2};

        EXPECT_TRUE(SettingsEditor(settings, messages, file).close(q(dir / "frames")));

        ASSERT_EQ(messages.texts.size(), 1);
        EXPECT_TRUE(messages.texts[0].contains(q(file))) << messages.texts[0].toStdString();
        EXPECT_EQ(settings, (Settings{2, (dir / "frames").string(), 2}));
    }
    EXPECT_EQ(read(dir / "blocked" / "config.dat" / "keep"), "kept");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "blocked"), fs::directory_iterator()), 1)
        << "no temporary file left behind";
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

} // namespace
} // namespace lumenvale
