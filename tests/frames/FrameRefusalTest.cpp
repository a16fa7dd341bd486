// Files that are not frames are refused by every step before any byte changes.
#include "frames/FrameSteps.h"
#include "platform/Errors.h"
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

// A frame spoilt in one way, and a word the refusal must hold.
struct Spoiler {
    const char* name;
    std::function<void(Bytes&)> spoil;
    const char* reason;
};

const Spoiler Spoilers[] = {
    {"Empty", [](Bytes& b) { b.clear(); }, "short"},
    {"HeaderOnly", [](Bytes& b) { b.resize(54); }, "short"},
    {"OneByteShort", [](Bytes& b) { b.pop_back(); }, "short"},
    {"NoSignature", [](Bytes& b) { b[0] = 'P'; }, "BM"},
    {"Narrow", [](Bytes& b) { PutLe32(b, 18, 320); }, "wide"},
    {"Low", [](Bytes& b) { PutLe32(b, 22, 240); }, "high"},
    {"TopDown", [](Bytes& b) { PutLe32(b, 22, static_cast<std::uint32_t>(-480)); }, "top-down"},
    {"EightBit", [](Bytes& b) { PutLe16(b, 28, 8); }, "bits"},
    {"RunLength", [](Bytes& b) { PutLe32(b, 30, 1); }, "compressed"},
    {"Bitfields", [](Bytes& b) { PutLe32(b, 30, 3); }, "compressed"},
    {"Offset300",
     [](Bytes& b) {
         // A well-formed file whose pixel data starts beyond what one byte can address.
         b.insert(b.begin() + 54, 246, 0);
         PutLe32(b, 10, 300);
         PutLe32(b, 2, static_cast<std::uint32_t>(b.size()));
     },
     "offset 300"},
    {"OffsetInHeader", [](Bytes& b) { PutLe32(b, 10, 20); }, "headers"},
    {"CoreHeader", [](Bytes& b) { PutLe32(b, 14, 12); }, "header"},
};

struct Case {
    const test::FrameStep* step;
    const char* spoiled; // which working file is not a frame
    const Spoiler* spoiler;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.step->name << " " << c.spoiler->name << " " << c.spoiled;
}

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (const Spoiler& spoiler : Spoilers) {
        for (const test::FrameStep& step : test::FrameSteps) {
            cases.push_back({&step, TempFile, &spoiler});
            if (step.readsTemp2) {
                cases.push_back({&step, Temp2File, &spoiler});
            }
        }
    }
    return cases;
}

class FrameRefusalTest : public ::testing::TestWithParam<Case> {};

TEST_P(FrameRefusalTest, RefusedWithTheFileAndReasonAndNothingChanged) {
    const Case& c = GetParam();
    test::ScratchDir dir;
    Bytes spoilt = MakeFrameBytes(test::DistinctRows(7));
    c.spoiler->spoil(spoilt);
    // The good field of a pair is darker than the other, so every step would rewrite a file
    // if it went ahead.
    const Bytes temp = c.spoiled == TempFile ? spoilt : MakeFrameBytes(test::Uniform(20));
    const Bytes temp2 = c.spoiled == Temp2File ? spoilt : MakeFrameBytes(test::Uniform(200));
    WriteBytes(dir / TempFile, temp);
    WriteBytes(dir / Temp2File, temp2);
    test::RecordingMessages messages;

    const FileError error = test::ThrownFileError([&] { c.step->run(dir.path(), messages); });

    EXPECT_EQ(error.file(), dir / c.spoiled);
    EXPECT_NE(std::string(error.what()).find(c.spoiler->reason), std::string::npos) << error.what();
    EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos);
    EXPECT_TRUE(ReadBytes(dir / TempFile) == temp);
    EXPECT_TRUE(ReadBytes(dir / Temp2File) == temp2);
    EXPECT_FALSE(fs::exists(dir / Temp3File));
    EXPECT_EQ(messages.beeps, 0);
}

INSTANTIATE_TEST_SUITE_P(NotFrames, FrameRefusalTest, ::testing::ValuesIn(AllCases()),
                         [](const auto& info) {
                             const Case& c = info.param;
                             return std::string(c.step->name) +
                                    (c.spoiled == TempFile ? "Temp" : "Temp2") + c.spoiler->name;
                         });

TEST(MissingFrameFileTest, MissingFileIsNamed) {
    for (const test::FrameStep& step : test::FrameSteps) {
        test::ScratchDir dir;
        test::WriteBytes(dir / Temp2File, MakeFrameBytes(test::Uniform(20)));
        test::RecordingMessages messages;

        const FileError error = test::ThrownFileError([&] { step.run(dir.path(), messages); });

        EXPECT_EQ(error.file(), dir / TempFile) << step.name;
        EXPECT_EQ(error.reason(), "no such file") << step.name;
    }
}

} // namespace
} // namespace lumenvale
