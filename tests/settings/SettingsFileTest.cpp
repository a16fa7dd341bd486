// Reading and writing "config.dat": the exact bytes, the free-format reading rules, and what a
// broken or missing file gives.
#include "settings/SettingsFile.h"
#include "platform/Errors.h"
#include "support/SettingsPrinting.h"
#include "support/TempDirTest.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace lumenvale {
namespace {

class SettingsFileTest : public test::TempDirTest {
protected:
    fs::path file() const { return dir / "config.dat"; }
};

TEST_F(SettingsFileTest, WhatIsSavedReadsBackTheSame) {
    const Settings cases[] = {
        {1, "/home/ann/frames", 1},
        {2, "/home/ann/frames", 2},
        {1, "/home/ann/deep sky frames ", 2},
        {2, "/data/m31,m33", 1},
        {1, "/data/the \"best\" night", 2},
        {1, "/a\"", 1},
        {2, " /leading blank", 1},
        {1, "/odd\r\nname", 1},
        {1, "", 2},
        {0, "/x", 3},
        {-32768, "/x", 32767},
    };
    for (const Settings& saved : cases) {
        SCOPED_TRACE(saved.SaveDir);
        SaveSettings(file(), saved);
        const SettingsLoad load = LoadSettings(file());
        EXPECT_TRUE(load.found);
        EXPECT_EQ(load.problem, "");
        EXPECT_EQ(load.settings, saved);
    }
}

TEST_F(SettingsFileTest, WritesExactlyThreeLinesInThePrintFormatReplacingALongerFile) {
    const struct {
        Settings settings;
        std::string bytes;
    } cases[] = {
        {Settings{1, "/home/ann/frames", 2}, " 1 \r\n/home/ann/frames\r\n 2 \r\n"},
        {Settings{2, "/my frames", 1}, " 2 \r\n/my frames\r\n 1 \r\n"},
        {Settings{-5, "", 0}, "-5 \r\n\r\n 0 \r\n"},
        // Only directories that would not read back whole as bare text go between quotes.
        {Settings{1, "/data/m31,m33", 1}, " 1 \r\n\"/data/m31,m33\"\r\n 1 \r\n"},
        {Settings{1, "/x\ry", 1}, " 1 \r\n\"/x\ry\"\r\n 1 \r\n"},
        {Settings{1, " /x", 1}, " 1 \r\n\" /x\"\r\n 1 \r\n"},
        {Settings{1, "/a\"b", 1}, " 1 \r\n/a\"b\r\n 1 \r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        make("config.dat", " 2 \r\n/old/place\r\n 2 \r\nextra line\r\nand another\r\n");
        SaveSettings(file(), c.settings);
        EXPECT_EQ(read(file()), c.bytes);
        EXPECT_EQ(entries(), 1U) << "no temporary file is left behind";
    }
}

TEST_F(SettingsFileTest, SavingWhereNoFileCanBeWrittenNamesTheFileAndKeepsTheOldOne) {
    const fs::path missingDir = dir / "gone" / "config.dat";
    try {
        SaveSettings(missingDir, {1, "/x", 1});
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.file(), missingDir);
    }

    fs::create_directory(file()); // a directory where the file should be
    EXPECT_THROW(SaveSettings(file(), {1, "/x", 1}), FileError);
    EXPECT_TRUE(fs::is_directory(file()));
}

TEST_F(SettingsFileTest, ADirectoryNoFormOfWhichReadsBackIsRefusedAndTheFileKept) {
    // Quoting is needed, and the quote inside would end the quoted field.
    const char* refused[] = {"\"", "\"/a", " /a\"b", "/a\"b,c", "/a\"\r\nb"};
    for (const char* saveDir : refused) {
        SCOPED_TRACE(saveDir);
        make("config.dat", " 2 \r\n/old\r\n 2 \r\n");
        const FileError e = test::ThrownFileError([&] { SaveSettings(file(), {1, saveDir, 1}); });
        EXPECT_EQ(e.file(), file());
        EXPECT_NE(e.reason().find(saveDir), std::string::npos) << e.reason();
        EXPECT_EQ(read(file()), " 2 \r\n/old\r\n 2 \r\n");
        EXPECT_EQ(entries(), 1U);
    }
}

TEST_F(SettingsFileTest, ReadsTheFreeFormVariants) {
    const struct {
        const char* what;
        std::string bytes;
        Settings expected;
    } cases[] = {
        {"bare digits", "2\r\n/d\r\n2\r\n", {2, "/d", 2}},
        {"blanks and tabs around numbers", "  \t2  \r\n/d\r\n\t 2\t\r\n", {2, "/d", 2}},
        {"plus sign", "+2\r\n/d\r\n+2\r\n", {2, "/d", 2}},
        {"lone LF line ends", " 2 \n/d\n 2 \n", {2, "/d", 2}},
        {"lone CR line ends", " 2 \r/d\r 2 \r", {2, "/d", 2}},
        {"one line with commas", "2,/d,2", {2, "/d", 2}},
        {"no line end at the end", " 2 \r\n/d\r\n 2 ", {2, "/d", 2}},
        {"longer than three lines", " 2 \r\n/d\r\n 2 \r\nanything\r\n,\"\r\n", {2, "/d", 2}},
        {"text after the third number", " 2 \r\n/d\r\n 2 z,y\r\n", {2, "/d", 2}},
        {"blanks before the directory", " 1 \r\n   /d\r\n 1 \r\n", {1, "/d", 1}},
        {"blanks after the directory kept", " 1 \r\n/d  \r\n 1 \r\n", {1, "/d  ", 1}},
        {"empty directory", " 1 \r\n\r\n 1 \r\n", {1, "", 1}},
        {"unquoted quote inside", " 1 \r\n/a\"b\r\n 1 \r\n", {1, "/a\"b", 1}},
        {"quoted with blanks around", " 1 \r\n  \"/a,b\"  \r\n 1 \r\n", {1, "/a,b", 1}},
        {"values without meaning kept", " 5 \r\n/d\r\n 3 \r\n", {5, "/d", 3}},
        {"16-bit limits", "-32768\r\n/d\r\n32767\r\n", {-32768, "/d", 32767}},
        {"a number ends at a blank, the next field follows", "2 /tmp/x, 2", {2, "/tmp/x", 2}},
        {"blanks, then the comma after a number", " 2 , /d , 2 ", {2, "/d ", 2}},
        {"fractions rounded half to even", "2.5\r\n/d\r\n-1.5\r\n", {2, "/d", -2}},
        {"fractions at the limits", "32767.49\r\n/d\r\n-32768.5\r\n", {32767, "/d", -32768}},
        {"fraction without a whole part", ".5\r\n/d\r\n+1.\r\n", {0, "/d", 1}},
        {"a quoted field runs to the next quote",
         " 1 \r\n\"/a,\r\nb\"\r\n 1 \r\n",
         {1, "/a,\r\nb", 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        make("config.dat", c.bytes);
        const SettingsLoad load = LoadSettings(file());
        EXPECT_EQ(load.problem, "");
        EXPECT_EQ(load.settings, c.expected);
    }
}

TEST_F(SettingsFileTest, ABrokenFileNamesTheWrongLineAndKeepsWhatCouldBeRead) {
    const std::string here = DefaultSettings().SaveDir;
    const struct {
        const char* what;
        std::string bytes;
        int wrongLine;
        Settings expected;
    } cases[] = {
        {"empty file", "", 1, {1, here, 1}},
        {"only the order", " 2 \r\n", 2, {2, here, 1}},
        {"order without line end", " 2 ", 2, {2, here, 1}},
        {"third line missing", " 2 \r\n/d\r\n", 3, {2, "/d", 1}},
        {"order not a number", "two\r\n/d\r\n 2 \r\n", 1, {1, "/d", 2}},
        {"order empty", "\r\n/d\r\n 2 \r\n", 1, {1, "/d", 2}},
        {"order with two full stops", "1.5.1\r\n/d\r\n 2 \r\n", 1, {1, "/d", 2}},
        {"order with an exponent", "1e1\r\n/d\r\n 2 \r\n", 1, {1, "/d", 2}},
        {"order rounded out of range", "32767.5\r\n/d\r\n 2 \r\n", 1, {1, "/d", 2}},
        {"order too large", "32768\r\n/d\r\n 2 \r\n", 1, {1, "/d", 2}},
        {"order too small", "-32769\r\n/d\r\n 2 \r\n", 1, {1, "/d", 2}},
        {"order far too large", "123456789012345678901234567890\r\n/d\r\n 2 \r\n", 1, {1, "/d", 2}},
        {"a sign alone", "-\r\n/d\r\n 2 \r\n", 1, {1, "/d", 2}},
        // The second number is the directory, and the directory the third field.
        {"two numbers on the order line", " 2 3\r\n/d\r\n 2 \r\n", 2, {2, "3", 1}},
        {"plain windows not a number", " 2 \r\n/d\r\nyes\r\n", 3, {2, "/d", 1}},
        // What an older version wrote for a directory with a comma in it.
        {"unquoted comma", " 2 \r\n/data/a,b\r\n 2 \r\n", 2, {2, "/data/a", 1}},
        {"no closing quote", " 2 \r\n\"/d\r\n 2 \r\n", 2, {2, here, 1}},
        {"text after the closing quote", " 2 \r\n\"/d\"x\r\n 2 \r\n", 2, {2, here, 2}},
        {"a doubled quote ends the field", " 2 \r\n\"/a\"\"b\"\r\n 2 \r\n", 2, {2, here, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        make("config.dat", c.bytes);
        const SettingsLoad load = LoadSettings(file());
        EXPECT_TRUE(load.found);
        EXPECT_EQ(load.settings, c.expected);
        EXPECT_NE(load.problem.find("Line " + std::to_string(c.wrongLine) + " "), std::string::npos)
            << load.problem;
        EXPECT_NE(load.problem.find(file().string()), std::string::npos) << load.problem;
        EXPECT_EQ(read(file()), c.bytes) << "reading never changes the file";
    }
}

TEST_F(SettingsFileTest, AMissingFileGivesTheDefaultsQuietlyAnUnreadableOneSaysSo) {
    const Settings defaults{1, fs::current_path().string(), 1};
    SettingsLoad load = LoadSettings(file());
    EXPECT_FALSE(load.found);
    EXPECT_EQ(load.problem, "");
    EXPECT_EQ(load.settings, defaults);
    EXPECT_FALSE(fs::exists(file()));

    fs::create_directory(file());
    load = LoadSettings(file());
    EXPECT_TRUE(load.found);
    EXPECT_EQ(load.settings, defaults);
    EXPECT_NE(load.problem.find(file().string()), std::string::npos) << load.problem;
}

} // namespace
} // namespace lumenvale
