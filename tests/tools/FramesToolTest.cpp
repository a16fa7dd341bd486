// lumenvale-frames run as a separate program: exit status, messages and the files it leaves.
#include "frames/FrameSteps.h"
#include "support/FrameFixtures.h"
#include "support/RecordingMessages.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

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

ToolRun RunTool(const QStringList& arguments, const fs::path& workingDir = {}) {
    QProcess tool;
    tool.setWorkingDirectory(QString::fromStdString(workingDir.string())); // empty: ours
    tool.start(QStringLiteral(LUMENVALE_FRAMES_TOOL), arguments);
    // Generous: the machine may be busy; a step takes milliseconds.
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << "lumenvale-frames did not finish";
        return {};
    }
    return {tool.exitCode(), QString::fromLocal8Bit(tool.readAllStandardError())};
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
