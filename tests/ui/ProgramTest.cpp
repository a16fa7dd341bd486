// The application object: the viewer comes first, reading the settings from the work folder.
#include "ui/Program.h"
#include "support/ScriptedFileDialogs.h"
#include "support/SettingsPrinting.h"
#include "support/TempDirTest.h"
#include "support/TestServices.h"
#include "ui/Form2.h"

#include <gtest/gtest.h>

namespace lumenvale {
namespace {

class ProgramTest : public test::TempDirTest {};

TEST_F(ProgramTest, StartsWithTheViewerAndTheSettingsOfTheWorkFolder) {
    make("config.dat", " 2 \r\n/data/frames\r\n 2 \r\n");
    test::TestServices services;
    test::ScriptedFileDialogs dialogs;

    Program program(services.services(), dialogs, dir);
    EXPECT_EQ(program.state().settings, (Settings{2, "/data/frames", 2}));
    EXPECT_FALSE(program.viewer().hasBackground());
    EXPECT_FALSE(program.viewer().isVisible());

    program.show();
    EXPECT_TRUE(program.viewer().isVisible());
    EXPECT_FALSE(program.viewer().windowIcon().isNull());
    EXPECT_TRUE(services.messages.texts.isEmpty());
}

} // namespace
} // namespace lumenvale
