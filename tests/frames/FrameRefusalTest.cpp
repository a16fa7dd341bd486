// Files that are not frames are refused by every step before any byte changes.
#include "frames/FrameSteps.h"
#include "platform/Errors.h"
#include "platform/FileSystemObject.h"
#include "support/FrameFixtures.h"
#include "support/RecordingMessages.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace lumenvale {
namespace {

using test::MakeFrameBytes;
using test::PutLe16;
using test::PutLe32;
using test::ReadBytes;
using test::WriteBytes;

using Bytes = std::vector<std::uint8_t>;

struct Spoiler {
    const char* name;
    std::function<Bytes()> make;
    const char* reason; // a word the message must hold
};

Bytes Frame() {
    return MakeFrameBytes(test::DistinctRows(7));
}

Bytes WithLe32(std::size_t offset, std::uint32_t value) {
    Bytes b = Frame();
    PutLe32(b, offset, value);
    return b;
}

const Spoiler Spoilers[] = {
    {"Empty", [] { return Bytes{}; }, "short"},
    {"HeaderOnly",
     [] {
         Bytes b = Frame();
         b.resize(54);
         return b;
     },
     "short"},
    {"OneByteShort",
     [] {
         Bytes b = Frame();
         b.pop_back();
         return b;
     },
     "short"},
    {"NoSignature",
     [] {
         Bytes b = Frame();
         b[0] = 'P';
         return b;
     },
     "BM"},
    {"Narrow", [] { return WithLe32(18, 320); }, "wide"},
    {"Low", [] { return WithLe32(22, 240); }, "high"},
    {"TopDown", [] { return WithLe32(22, static_cast<std::uint32_t>(-480)); }, "top-down"},
    {"EightBit",
     [] {
         Bytes b = Frame();
         PutLe16(b, 28, 8);
         return b;
     },
     "bits"},
    {"RunLength", [] { return WithLe32(30, 1); }, "compressed"},
    {"Bitfields", [] { return WithLe32(30, 3); }, "compressed"},
    {"Offset300",
     [] {
         // A well-formed file whose pixel data starts beyond what one byte can address.
         Bytes b = Frame();
         b.insert(b.begin() + 54, 246, 0);
         PutLe32(b, 10, 300);
         PutLe32(b, 2, static_cast<std::uint32_t>(b.size()));
         return b;
     },
     "offset 300"},
    {"OffsetInHeader", [] { return WithLe32(10, 20); }, "headers"},
    {"CoreHeader", [] { return WithLe32(14, 12); }, "header"},
};

enum class Step { Double, Match, Swap, Interleave };

struct Case {
    Step step;
    const char* spoiled; // which working file is not a frame
    const Spoiler* spoiler;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.spoiler->name << " " << c.spoiled;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    const char* steps[] = {"Double", "Match", "Swap", "Interleave"};
    const std::string file = info.param.spoiled == TempFile ? "Temp" : "Temp2";
    return std::string(steps[static_cast<int>(info.param.step)]) + file + info.param.spoiler->name;
}

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (const Spoiler& spoiler : Spoilers) {
        cases.push_back({Step::Double, TempFile, &spoiler});
        for (Step step : {Step::Match, Step::Swap, Step::Interleave}) {
            cases.push_back({step, TempFile, &spoiler});
            cases.push_back({step, Temp2File, &spoiler});
        }
    }
    return cases;
}

class FrameRefusalTest : public ::testing::TestWithParam<Case> {};

TEST_P(FrameRefusalTest, RefusedWithTheFileAndReasonAndNothingChanged) {
    const Case& c = GetParam();
    test::ScratchDir dir;
    const Bytes spoilt = c.spoiler->make();
    // The good field of a pair is darker than the other, so every step would rewrite a file
    // if it went ahead.
    const Bytes temp = c.spoiled == TempFile ? spoilt : MakeFrameBytes(test::Uniform(20));
    const Bytes temp2 = c.spoiled == Temp2File ? spoilt : MakeFrameBytes(test::Uniform(200));
    WriteBytes(dir / TempFile, temp);
    WriteBytes(dir / Temp2File, temp2);
    test::RecordingMessages messages;
    FileSystemObject files;

    try {
        switch (c.step) {
        case Step::Double:
            DoubleFrameLines(dir.path());
            break;
        case Step::Match:
            MatchFieldBrightness(dir.path(), messages);
            break;
        case Step::Swap:
            SwapFieldFiles(dir.path(), files);
            break;
        case Step::Interleave:
            InterleaveFields(dir.path());
            break;
        }
        FAIL() << "not refused";
    } catch (const FileError& error) {
        EXPECT_EQ(error.file(), dir / c.spoiled);
        EXPECT_NE(std::string(error.what()).find(c.spoiler->reason), std::string::npos)
            << error.what();
        EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos);
    }

    EXPECT_TRUE(ReadBytes(dir / TempFile) == temp);
    EXPECT_TRUE(ReadBytes(dir / Temp2File) == temp2);
    EXPECT_FALSE(fs::exists(dir / Temp3File));
    EXPECT_EQ(messages.beeps, 0);
}

INSTANTIATE_TEST_SUITE_P(NotFrames, FrameRefusalTest, ::testing::ValuesIn(AllCases()), CaseName);

TEST(FrameRefusal, MissingFileIsNamed) {
    test::ScratchDir dir;
    try {
        DoubleFrameLines(dir.path());
        FAIL() << "no error";
    } catch (const FileError& error) {
        EXPECT_EQ(error.file(), dir / TempFile);
        EXPECT_EQ(error.reason(), "no such file");
    }
}

} // namespace
} // namespace lumenvale
