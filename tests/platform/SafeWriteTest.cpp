// Whole-file writes: the new content or the old, never half of one, and no stray temporaries.
#include "platform/SafeWrite.h"
#include "platform/Errors.h"
#include "support/TempDirTest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

using namespace lumenvale;
namespace fs = std::filesystem;

namespace {

struct SafeWriteTest : test::TempDirTest {};

} // namespace

TEST_F(SafeWriteTest, WritesANewFileAndReplacesAnOldOne) {
    const auto target = dir / "config.dat";
    WriteFileSafely(target, std::string_view("1\r\n"));
    EXPECT_EQ(read(target), "1\r\n");
    WriteFileSafely(target, std::string_view("2\r\n\"/home\"\r\n1\r\n"));
    EXPECT_EQ(read(target), "2\r\n\"/home\"\r\n1\r\n");
    EXPECT_EQ(entries(), 1U);
}

TEST_F(SafeWriteTest, TheWriterGetsATemporaryBesideTheTarget) {
    const auto target = dir / "frame001.bmp";
    fs::path seen;
    WriteFileSafely(target, [&](const fs::path& temp) {
        seen = temp;
        EXPECT_NE(temp, target);
        EXPECT_FALSE(fs::exists(target)) << "the target appears only when complete";
        std::ofstream(temp) << "picture";
    });
    EXPECT_EQ(seen.parent_path(), target.parent_path());
    EXPECT_EQ(read(target), "picture");
    EXPECT_FALSE(fs::exists(seen));
}

TEST_F(SafeWriteTest, FailureKeepsTheOldFileLeavesNoTemporaryAndNamesTheTarget) {
    const auto target = dir / "config.dat";
    WriteFileSafely(target, std::string_view("old"));

    for (int kind = 0; kind < 3; ++kind) {
        try {
            WriteFileSafely(target, [&](const fs::path& temp) {
                std::ofstream(temp) << "half of the new";
                if (kind == 0) {
                    throw FileError(temp, "disk full");
                }
                if (kind == 1) {
                    throw std::runtime_error("encoder failed");
                }
                throw 42;
            });
            ADD_FAILURE() << "no error";
        } catch (const FileError& e) {
            EXPECT_EQ(e.file(), target);
            EXPECT_NE(std::string(e.what()).find(target.string()), std::string::npos);
        } catch (int) {
            EXPECT_EQ(kind, 2) << "anything else passes through unchanged";
        }
        EXPECT_EQ(read(target), "old");
        EXPECT_EQ(entries(), 1U) << "kind " << kind;
    }
}

TEST_F(SafeWriteTest, ADirectoryInTheWayIsRefusedAndLeftAlone) {
    fs::create_directory(dir / "config.dat");
    EXPECT_THROW(WriteFileSafely(dir / "config.dat", std::string_view("x")), FileError);
    EXPECT_TRUE(fs::is_directory(dir / "config.dat"));
    EXPECT_EQ(entries(), 1U);
}

TEST_F(SafeWriteTest, AMissingDirectoryIsAFileErrorNamingTheTarget) {
    const auto target = dir / "no-such-dir" / "frame001.bmp";
    EXPECT_EQ(test::ThrownFileError([&] { WriteFileSafely(target, std::string_view("x")); }).file(),
              target);
    EXPECT_EQ(entries(), 0U);
}

TEST_F(SafeWriteTest, AWriterThatWritesNothingIsAnError) {
    const auto target = dir / "frame001.bmp";
    EXPECT_THROW(WriteFileSafely(target, [](const fs::path&) {}), FileError);
    EXPECT_FALSE(fs::exists(target));
}
