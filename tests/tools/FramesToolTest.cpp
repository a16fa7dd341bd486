// lumenvale-frames run as a separate program: exit status, messages and the files it leaves.
#include "frames/FrameSteps.h"
#include "support/FrameFixtures.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <vector>

namespace lumenvale {
namespace {

using test::MakeFrameBytes;
using test::ReadBytes;
using test::WriteBytes;

using Bytes = std::vector<std::uint8_t>;

struct ToolRun {
    int exitCode = -1;
    QString errors;
};

ToolRun RunTool(const QStringList& arguments, const std::filesystem::path& workingDir = {}) {
    QProcess tool;
    if (!workingDir.empty()) {
        tool.setWorkingDirectory(QString::fromStdString(workingDir.string()));
    }
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
    FramesToolTest()
        : first(MakeFrameBytes(test::DistinctRows(1))),
          second(MakeFrameBytes(test::DistinctRows(2))),
          dirArgument(QString::fromStdString(dir.path().string())) {
        WriteBytes(dir / TempFile, first);
        WriteBytes(dir / Temp2File, second);
    }

    test::ScratchDir dir;
    const Bytes first;
    const Bytes second;
    const QString dirArgument;
};

TEST_F(FramesToolTest, EachStepSucceedsOnFrames) {
    for (const char* step : {"double", "match", "swap", "interleave"}) {
        const ToolRun run = RunTool({step, dirArgument});
        EXPECT_EQ(run.exitCode, 0) << step << ": " << run.errors.toStdString();
        EXPECT_TRUE(run.errors.isEmpty()) << step << ": " << run.errors.toStdString();
    }
}

TEST_F(FramesToolTest, GivesTheSameBytesAsTheProgramsOwnStep) {
    ASSERT_EQ(RunTool({"interleave", dirArgument}).exitCode, 0);
    const Bytes byTool = ReadBytes(dir / TempFile);

    WriteBytes(dir / TempFile, first);
    InterleaveFields(dir.path());

    EXPECT_TRUE(byTool == ReadBytes(dir / TempFile));
    EXPECT_TRUE(byTool != first);
}

TEST_F(FramesToolTest, WorksInTheCurrentDirectoryByDefault) {
    const ToolRun run = RunTool({"swap"}, dir.path());

    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_TRUE(ReadBytes(dir / TempFile) == second);
    EXPECT_TRUE(ReadBytes(dir / Temp2File) == first);
}

TEST_F(FramesToolTest, RefusedFileGivesOneLineNamingItAndStatusOne) {
    Bytes eightBit = first;
    test::PutLe16(eightBit, 28, 8);
    WriteBytes(dir / Temp2File, eightBit);

    const ToolRun run = RunTool({"match", dirArgument});

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.errors.endsWith('\n'));
    EXPECT_EQ(run.errors.count('\n'), 1) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains(QString::fromStdString((dir / Temp2File).string())))
        << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains("8 bits per pixel")) << run.errors.toStdString();
    EXPECT_TRUE(ReadBytes(dir / Temp2File) == eightBit);
    EXPECT_TRUE(ReadBytes(dir / TempFile) == first);
}

TEST_F(FramesToolTest, MissingFileIsAFailure) {
    std::filesystem::remove(dir / TempFile);

    const ToolRun run = RunTool({"double", dirArgument});

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.errors.contains("no such file")) << run.errors.toStdString();
}

TEST(FramesTool, UnknownStepOrNoStepIsAUsageError) {
    for (const QStringList& arguments : {QStringList{}, QStringList{"triple"}}) {
        const ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.errors.contains("usage")) << run.errors.toStdString();
    }
}

} // namespace
} // namespace lumenvale
