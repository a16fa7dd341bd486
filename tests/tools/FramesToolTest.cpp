// lumenvale-frames run as a separate program: exit status, messages and the files it leaves.
#include "frames/FrameSteps.h"
#include "support/FrameFixtures.h"
#include "support/RecordingMessages.h"

#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace lumenvale {
namespace {

using namespace test;

using Bytes = std::vector<std::uint8_t>;

struct ToolRun {
    int exitCode = -1;
    QString errors;
};

// Started with posix_spawn rather than QProcess: the arm64 tests run under qemu-user, which
// refuses the clone (with a pidfd) that QProcess starts a program by.
ToolRun RunTool(const QStringList& arguments, const fs::path& workingDir = {}) {
    std::vector<std::string> words{LUMENVALE_FRAMES_TOOL};
    for (const QString& argument : arguments) {
        words.push_back(argument.toStdString());
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "no pipe for lumenvale-frames' messages";
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDERR_FILENO);
    if (!workingDir.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    }
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(errorPipe[1]);
    ToolRun run;
    std::string errors;
    char chunk[4096];
    for (ssize_t n; (n = read(errorPipe[0], chunk, sizeof chunk)) > 0;) {
        errors.append(chunk, std::size_t(n));
    }
    close(errorPipe[0]);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        ADD_FAILURE() << "lumenvale-frames did not finish";
        return {};
    }
    run.exitCode = WEXITSTATUS(status);
    run.errors = QString::fromLocal8Bit(errors);
    return run;
}

class FramesToolTest : public ::testing::Test {
protected:
    FramesToolTest() { PutFields(dir); }

    void PutFields(const ScratchDir& into) {
        WriteBytes(into / TempFile, first);
        WriteBytes(into / Temp2File, second);
    }

    ScratchDir dir;
    const Bytes first = MakeFrameBytes(DistinctRows(1));
    // Brighter than the first field (blue always at least 128), so matching darkens it.
    const Bytes second = MakeFrameBytes([](int x, int r) {
        auto pixel = DistinctRows(2)(x, r);
        pixel[0] |= 0x80;
        return pixel;
    });
};

// Without a directory argument, the tool works in the current directory.
TEST_F(FramesToolTest, EachStepLeavesTheSameFilesAsTheProgramsOwnStep) {
    ScratchDir byProgram;
    RecordingMessages messages;
    for (const FrameStep& step : FrameSteps) {
        SCOPED_TRACE(step.name);
        PutFields(dir);
        PutFields(byProgram);

        const ToolRun tool = RunTool({step.name}, dir.path());
        step.run(byProgram.path(), messages);

        EXPECT_EQ(tool.exitCode, 0) << tool.errors.toStdString();
        EXPECT_TRUE(tool.errors.isEmpty()) << tool.errors.toStdString();
        EXPECT_TRUE(ReadBytes(dir / TempFile) == ReadBytes(byProgram / TempFile));
        EXPECT_TRUE(ReadBytes(dir / Temp2File) == ReadBytes(byProgram / Temp2File));
    }
}

TEST_F(FramesToolTest, RefusedFileGivesOneLineNamingItAndStatusOne) {
    Bytes eightBit = second;
    PutLe16(eightBit, 28, 8);
    WriteBytes(dir / Temp2File, eightBit);

    const ToolRun run = RunTool({"match", QString::fromStdString(dir.path().string())});

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.errors.endsWith('\n'));
    EXPECT_EQ(run.errors.count('\n'), 1) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains(QString::fromStdString((dir / Temp2File).string())))
        << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains("8 bits per pixel")) << run.errors.toStdString();
    EXPECT_TRUE(ReadBytes(dir / Temp2File) == eightBit);
    EXPECT_TRUE(ReadBytes(dir / TempFile) == first);
}

TEST(FramesToolUsageTest, UsageErrorsAndMissingFilesFailWithTheirReason) {
    const ScratchDir empty;
    const QString emptyDir = QString::fromStdString(empty.path().string());
    for (const auto& [arguments, exitCode, reason] :
         {std::tuple{QStringList{}, 2, "usage"},
          {QStringList{"triple"}, 2, "usage"},
          {QStringList{"double", emptyDir}, 1, "no such file"}}) {
        const ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.exitCode, exitCode) << reason;
        EXPECT_TRUE(run.errors.contains(reason)) << run.errors.toStdString();
    }
}

} // namespace
} // namespace lumenvale
