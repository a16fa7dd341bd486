// Copying, testing, deleting and renaming the working frame files.
#include "platform/FileSystemObject.h"
#include "platform/Errors.h"
#include "support/TempDirTest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

using namespace lumenvale;
namespace fs = std::filesystem;

namespace {

struct FileSystemObjectTest : test::TempDirTest {
    FileSystemObject files;
};

// Runs `op`, expecting a FileError whose message names `file`.
void ExpectErrorNaming(const fs::path& file, const std::function<void()>& op) {
    const FileError e = test::ThrownFileError(op);
    EXPECT_EQ(e.file(), file);
    EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
}

} // namespace

TEST_F(FileSystemObjectTest, CopyReplacesTheDestinationAndKeepsTheSource) {
    const auto source = make("temp.bmp", "new frame");
    const auto destination = make("frame0x37.bmp", "an older and longer frame");

    files.CopyFile(source, destination);

    EXPECT_EQ(read(destination), "new frame");
    EXPECT_EQ(read(source), "new frame");
}

TEST_F(FileSystemObjectTest, CopyRefusesADirectoryAndWithoutOverwriteAFileNamingIt) {
    const auto source = make("temp.bmp", "new");
    const auto destination = make("frame0x37.bmp", "old");
    ExpectErrorNaming(destination, [&] { files.CopyFile(source, destination, false); });
    EXPECT_EQ(read(destination), "old");

    fs::create_directory(dir / "hires0x35.bmp");
    ExpectErrorNaming(dir / "hires0x35.bmp",
                      [&] { files.CopyFile(source, dir / "hires0x35.bmp"); });
}

TEST_F(FileSystemObjectTest, EachOperationOnAMissingFileNamesItAndCreatesNothing) {
    const auto missing = dir / "temp.bmp";
    ExpectErrorNaming(missing, [&] { files.CopyFile(missing, dir / "x.bmp"); });
    ExpectErrorNaming(missing, [&] { files.MoveFile(missing, dir / "x.bmp"); });
    ExpectErrorNaming(missing, [&] { files.DeleteFile(missing); });
    EXPECT_EQ(entries(), 0u);
}

TEST_F(FileSystemObjectTest, FileExistsOnlyForFiles) {
    make("temp3.bmp", "x");
    fs::create_directory(dir / "folder");
    EXPECT_TRUE(files.FileExists(dir / "temp3.bmp"));
    EXPECT_FALSE(files.FileExists(dir / "folder"));
    EXPECT_FALSE(files.FileExists(dir / "missing.bmp"));
}

TEST_F(FileSystemObjectTest, MoveRenamesToAFreeName) {
    const auto source = make("temp.bmp", "field one");
    files.MoveFile(source, dir / "temp3.bmp");
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ(read(dir / "temp3.bmp"), "field one");
}

TEST_F(FileSystemObjectTest, MoveRefusesAnExistingDestinationEvenADanglingLinkAndTouchesNeither) {
    const auto source = make("temp.bmp", "field one");
    const auto destination = make("temp2.bmp", "field two");
    ExpectErrorNaming(destination, [&] { files.MoveFile(source, destination); });
    EXPECT_EQ(read(destination), "field two");

    fs::create_symlink(dir / "nowhere", dir / "temp3.bmp");
    ExpectErrorNaming(dir / "temp3.bmp", [&] { files.MoveFile(source, dir / "temp3.bmp"); });
    EXPECT_EQ(read(source), "field one");
}

TEST_F(FileSystemObjectTest, DeleteWithoutForceRefusesAReadOnlyFileEvenWhereItCouldBeRemoved) {
    const auto writable = make("temp3.bmp", "x");
    files.DeleteFile(writable);
    EXPECT_FALSE(fs::exists(writable));

    // The refusal goes by the file's write permission, not by whether unlinking would work
    // (it would, in a writable directory, and always for root).
    const auto file = make("temp3.bmp", "keep me");
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    ExpectErrorNaming(file, [&] { files.DeleteFile(file); });
    EXPECT_EQ(read(file), "keep me");

    files.DeleteFile(file, true);
    EXPECT_FALSE(fs::exists(file));
}
