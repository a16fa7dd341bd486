// Exchanging the two field files through "temp3.bmp", and undoing a swap that fails part-way.
#include "frames/FrameSteps.h"
#include "platform/Errors.h"
#include "platform/FileSystemObject.h"
#include "support/FrameFixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace lumenvale {
namespace {

using test::MakeFrameBytes;
using test::ReadBytes;
using test::WriteBytes;

using Bytes = std::vector<std::uint8_t>;

// The real file object, remembering each call and failing the Nth rename (0: none) and the
// ones after it, up to `failures` of them.
class FailingFiles : public FileSystemObject {
public:
    explicit FailingFiles(int failOnMove = 0, int failures = 1)
        : failOnMove_(failOnMove), failures_(failures) {}

    bool FileExists(const fs::path& file) override {
        calls.push_back("exists " + file.filename().string());
        return FileSystemObject::FileExists(file);
    }
    void DeleteFile(const fs::path& file, bool force) override {
        calls.push_back("delete " + file.filename().string() + (force ? " forced" : ""));
        FileSystemObject::DeleteFile(file, force);
    }
    void MoveFile(const fs::path& source, const fs::path& destination) override {
        calls.push_back("move " + source.filename().string() + " " +
                        destination.filename().string());
        ++moves_;
        if (failOnMove_ > 0 && moves_ >= failOnMove_ && moves_ < failOnMove_ + failures_) {
            throw FileError(source, "device went away");
        }
        FileSystemObject::MoveFile(source, destination);
    }

    std::vector<std::string> calls;

private:
    int failOnMove_;
    int failures_;
    int moves_ = 0;
};

class SwapFieldFilesTest : public ::testing::Test {
protected:
    SwapFieldFilesTest()
        : first(MakeFrameBytes(test::DistinctRows(1))),
          second(MakeFrameBytes(test::DistinctRows(2), 124)) {
        PutFields();
    }

    void PutFields() {
        WriteBytes(dir / TempFile, first);
        WriteBytes(dir / Temp2File, second);
    }

    void ExpectFields(const Bytes& inTemp, const Bytes& inTemp2) {
        EXPECT_TRUE(ReadBytes(dir / TempFile) == inTemp);
        EXPECT_TRUE(ReadBytes(dir / Temp2File) == inTemp2);
    }

    // Runs a swap that must fail; the error it gives.
    FileError SwapError(FailingFiles& files) {
        return test::ThrownFileError([&] { SwapFieldFiles(dir.path(), files); });
    }

    test::ScratchDir dir;
    const Bytes first;
    const Bytes second;
};

TEST_F(SwapFieldFilesTest, ExchangesTheFieldsThroughTemp3DeletingALeftoverFirstWithoutForce) {
    for (const bool leftover : {false, true}) {
        SCOPED_TRACE(leftover ? "leftover temp3.bmp" : "no temp3.bmp");
        PutFields();
        if (leftover) {
            WriteBytes(dir / Temp3File, Bytes{1, 2, 3});
        }
        FailingFiles files;

        SwapFieldFiles(dir.path(), files);

        ExpectFields(second, first);
        EXPECT_FALSE(fs::exists(dir / Temp3File));
        std::vector<std::string> expected = {"exists temp3.bmp", "move temp2.bmp temp3.bmp",
                                             "move temp.bmp temp2.bmp", "move temp3.bmp temp.bmp"};
        if (leftover) {
            expected.insert(expected.begin() + 1, "delete temp3.bmp");
        }
        EXPECT_EQ(files.calls, expected);
    }
}

TEST_F(SwapFieldFilesTest, ReadOnlyLeftoverStopsTheSwapBeforeAnyRename) {
    WriteBytes(dir / Temp3File, Bytes{1, 2, 3});
    fs::permissions(dir / Temp3File, fs::perms::owner_read | fs::perms::group_read);
    FailingFiles files;

    EXPECT_EQ(SwapError(files).file().filename(), Temp3File);

    ExpectFields(first, second);
    EXPECT_TRUE(ReadBytes(dir / Temp3File) == (Bytes{1, 2, 3}));
    for (const auto& call : files.calls) {
        EXPECT_NE(call.rfind("move", 0), 0u) << call;
    }
}

TEST_F(SwapFieldFilesTest, MissingFieldStopsTheSwapBeforeAnyCall) {
    fs::remove(dir / TempFile);
    FailingFiles files;

    EXPECT_EQ(SwapError(files).file().filename(), TempFile);

    EXPECT_TRUE(ReadBytes(dir / Temp2File) == second);
    EXPECT_TRUE(files.calls.empty());
}

class SwapFailingRenameTest : public SwapFieldFilesTest,
                              public ::testing::WithParamInterface<int> {};

TEST_P(SwapFailingRenameTest, EarlierRenamesAreUndoneAndTheErrorNamesTheFile) {
    const int failing = GetParam();
    FailingFiles files(failing);
    const char* failingSource[] = {Temp2File, TempFile, Temp3File};

    const FileError error = SwapError(files);

    EXPECT_EQ(error.file().filename(), failingSource[failing - 1]);
    EXPECT_NE(std::string(error.what()).find("device went away"), std::string::npos);
    ExpectFields(first, second);
    EXPECT_FALSE(fs::exists(dir / Temp3File));
}

INSTANTIATE_TEST_SUITE_P(Renames, SwapFailingRenameTest, ::testing::Values(1, 2, 3));

TEST_F(SwapFieldFilesTest, FailedUndoIsReported) {
    FailingFiles files(3, 2); // the last rename fails, then the first undo as well

    const FileError error = SwapError(files);

    EXPECT_EQ(error.file().filename(), Temp3File);
    EXPECT_NE(std::string(error.what()).find("could not be undone"), std::string::npos);
}

} // namespace
} // namespace lumenvale
