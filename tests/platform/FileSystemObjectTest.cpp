// Copying, testing, deleting and renaming the working frame files.
#include "platform/FileSystemObject.h"
#include "platform/Errors.h"
#include "support/TempDirTest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace lumenvale;
namespace fs = std::filesystem;

namespace {

struct FileSystemObjectTest : test::TempDirTest {
    FileSystemObject files;
};

// Runs `op`, expecting a FileError whose message names `file`.
template <typename Op> void ExpectErrorNaming(const fs::path& file, Op op) {
    try {
        op();
        ADD_FAILURE() << "no error for " << file;
    } catch (const FileError& e) {
        EXPECT_EQ(e.file(), file);
        EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
    }
}

} // namespace

TEST_F(FileSystemObjectTest, CopyReplacesTheDestinationAndKeepsTheSource) {
    const auto source = make("temp.bmp", "new frame");
    const auto destination = make("frame0x37.bmp", "an older and longer frame");

    files.CopyFile(source, destination);

    EXPECT_EQ(read(destination), "new frame");
    EXPECT_EQ(read(source), "new frame");
}

TEST_F(FileSystemObjectTest, CopyWithoutOverwriteRefusesAnExistingDestination) {
    const auto source = make("temp.bmp", "new");
    const auto destination = make("frame0x37.bmp", "old");
    ExpectErrorNaming(destination, [&] { files.CopyFile(source, destination, false); });
    EXPECT_EQ(read(destination), "old");
}

TEST_F(FileSystemObjectTest, CopyOfAMissingFileNamesTheSource) {
    ExpectErrorNaming(dir / "temp.bmp", [&] { files.CopyFile(dir / "temp.bmp", dir / "x.bmp"); });
    EXPECT_FALSE(fs::exists(dir / "x.bmp"));
}

TEST_F(FileSystemObjectTest, CopyOntoADirectoryNamesTheDestination) {
    const auto source = make("temp.bmp", "frame");
    fs::create_directory(dir / "frame0x37.bmp");
    ExpectErrorNaming(dir / "frame0x37.bmp",
                      [&] { files.CopyFile(source, dir / "frame0x37.bmp"); });
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

TEST_F(FileSystemObjectTest, MoveRefusesAnExistingDestinationAndTouchesNeither) {
    const auto source = make("temp.bmp", "field one");
    const auto destination = make("temp2.bmp", "field two");
    ExpectErrorNaming(destination, [&] { files.MoveFile(source, destination); });
    EXPECT_EQ(read(source), "field one");
    EXPECT_EQ(read(destination), "field two");
}

TEST_F(FileSystemObjectTest, MoveRefusesADanglingLinkAsDestination) {
    const auto source = make("temp.bmp", "field one");
    fs::create_symlink(dir / "nowhere", dir / "temp2.bmp");
    ExpectErrorNaming(dir / "temp2.bmp", [&] { files.MoveFile(source, dir / "temp2.bmp"); });
    EXPECT_EQ(read(source), "field one");
}

TEST_F(FileSystemObjectTest, MoveOfAMissingFileNamesTheSource) {
    ExpectErrorNaming(dir / "temp.bmp", [&] { files.MoveFile(dir / "temp.bmp", dir / "t3.bmp"); });
}

TEST_F(FileSystemObjectTest, DeleteRemovesAWritableFile) {
    const auto file = make("temp3.bmp", "x");
    files.DeleteFile(file);
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(FileSystemObjectTest, DeleteWithoutForceRefusesAReadOnlyFileEvenWhereItCouldBeRemoved) {
    // The refusal goes by the file's write permission, not by whether unlinking would work
    // (it would, in a writable directory, and always for root).
    const auto file = make("temp3.bmp", "keep me");
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    ExpectErrorNaming(file, [&] { files.DeleteFile(file); });
    EXPECT_EQ(read(file), "keep me");

    files.DeleteFile(file, true);
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(FileSystemObjectTest, DeleteOfAMissingFileNamesIt) {
    ExpectErrorNaming(dir / "temp3.bmp", [&] { files.DeleteFile(dir / "temp3.bmp"); });
}
