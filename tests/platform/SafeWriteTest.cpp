// Whole-file writes: the new content or the old, never half of one, and no stray temporaries.
#include "platform/SafeWrite.h"
#include "platform/Errors.h"
#include "support/TempDirTest.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

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

    for (int kind = 0; kind < 4; ++kind) {
        try {
            WriteFileSafely(target, [&](const fs::path& temp) {
                std::ofstream(temp) << "half of the new";
                if (kind == 0) {
                    throw FileError(temp, "disk full");
                }
                if (kind == 3) {
                    throw FileError(temp, "cannot write: " + SystemReason(ENOSPC));
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
            if (kind == 3) {
                EXPECT_EQ(e.reason(), "cannot write: the disk is full (No space left on device)");
            }
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

namespace {

// Root passes most permission checks; a case that relies on them runs as an ordinary user,
// who then owns the scratch directory and everything in it.
class OrdinaryUser {
public:
    explicit OrdinaryUser(const fs::path& dir) : switched_(::geteuid() == 0) {
        if (switched_) {
            EXPECT_EQ(::chown(dir.c_str(), Nobody, Nobody), 0) << dir;
            for (const auto& entry : fs::recursive_directory_iterator(dir)) {
                EXPECT_EQ(::lchown(entry.path().c_str(), Nobody, Nobody), 0) << entry.path();
            }
            EXPECT_EQ(::seteuid(Nobody), 0);
        }
    }
    ~OrdinaryUser() {
        if (switched_) {
            EXPECT_EQ(::seteuid(0), 0);
        }
    }
    OrdinaryUser(const OrdinaryUser&) = delete;
    OrdinaryUser& operator=(const OrdinaryUser&) = delete;

private:
    static constexpr uid_t Nobody = 65534;
    bool switched_;
};

fs::perms modeOf(const fs::path& file) {
    return fs::status(file).permissions();
}

} // namespace

TEST_F(SafeWriteTest, TheFileReplacedIsRespected) {
    const fs::perms rw = fs::perms::owner_read | fs::perms::owner_write;
    const fs::perms everyone = rw | fs::perms::group_read | fs::perms::group_write |
                               fs::perms::others_read | fs::perms::others_write;
    const std::string longest(255, 'n');
    const struct {
        const char* what;
        std::string target;   // the name written to, in the scratch directory
        std::string file;     // where the content is to land; empty: refused
        fs::perms mode;       // mode of the file beforehand, and afterwards when written
        bool directoryLocked; // "sub" takes no new files
    } cases[] = {
        {"a read-only file is refused", "config.dat", "", fs::perms::owner_read, false},
        {"a link is written through to its file", "link.dat", "sub/real.dat", rw, false},
        {"the mode is kept, umask or not", "config.dat", "config.dat", everyone, false},
        {"a locked directory: written in place", "sub/config.dat", "sub/config.dat", rw, true},
        {"a name as long as the system takes", longest, longest, rw, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchDir scratch;
        fs::create_directory(scratch / "sub");
        const bool link = !c.file.empty() && c.file != c.target;
        const fs::path old = scratch / (link ? c.file : c.target);
        std::ofstream(old) << "old";
        fs::permissions(old, c.mode);
        if (link) {
            fs::create_symlink(c.file, scratch / c.target);
        }
        if (c.directoryLocked) {
            fs::permissions(scratch / "sub", fs::perms::owner_read | fs::perms::owner_exec);
        }
        std::optional<FileError> error;
        {
            OrdinaryUser user(scratch.path());
            try {
                WriteFileSafely(scratch / c.target, std::string_view("new"));
            } catch (const FileError& e) {
                error = e;
            }
        }
        fs::permissions(scratch / "sub", fs::perms::owner_all);

        if (c.file.empty()) {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->file(), scratch / c.target);
            EXPECT_NE(error->reason().find("read-only"), std::string::npos) << error->reason();
            EXPECT_EQ(read(old), "old");
        } else {
            ASSERT_FALSE(error) << error->what();
            EXPECT_EQ(read(scratch / c.file), "new");
            EXPECT_EQ(modeOf(scratch / c.file), c.mode);
        }
        EXPECT_EQ(fs::is_symlink(scratch / c.target), link);
        for (const auto& entry : fs::recursive_directory_iterator(scratch.path())) {
            EXPECT_NE(entry.path().filename().string().rfind(".tmp", 0), 0U) << entry.path();
        }
    }
}
