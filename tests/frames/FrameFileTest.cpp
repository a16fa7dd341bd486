// Byte access to a frame file: 1-based positions, nothing written until Close, and only then
// if something changed.
#include "frames/FrameFile.h"

#include "frames/FrameAccess.h"
#include "platform/Errors.h"
#include "support/FrameFixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace lumenvale {
namespace {

using test::MakeFrameBytes;
using test::ReadBytes;
using test::WriteBytes;

using Bytes = std::vector<std::uint8_t>;

class FrameFileTest : public ::testing::Test {
protected:
    FrameFileTest() : original(MakeFrameBytes(test::DistinctRows(3))), file(dir / "frame.bmp") {
        WriteBytes(file, original);
        // Far enough in the past that any write back shows in the time stamp.
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
        stamp = fs::last_write_time(file);
    }

    test::ScratchDir dir;
    const Bytes original;
    const fs::path file;
    fs::file_time_type stamp;
};

TEST_F(FrameFileTest, PositionsCountFromOneAndPixelsFromTheOffsetInTheHeader) {
    for (const auto& [infoHeader, offset] : {std::pair{40, 54u}, {124, 138u}}) {
        SCOPED_TRACE(infoHeader);
        const Bytes bytes = MakeFrameBytes(test::DistinctRows(4), infoHeader);
        WriteBytes(file, bytes);
        FrameFile frame(file);

        EXPECT_EQ(frame.readByte(1), 'B');
        EXPECT_EQ(frame.readByte(2), 'M');
        EXPECT_EQ(frame.dataOffset(), offset);
        EXPECT_EQ(frame.readByte(offset + 1), bytes[offset]);
        EXPECT_EQ(frame.readByte(bytes.size()), bytes.back());
    }
}

TEST_F(FrameFileTest, ChangesReachTheFileOnlyAtClose) {
    FrameFile frame(file);
    frame.writeByte(100, static_cast<std::uint8_t>(original[99] + 1));
    frame.writeByte(original.size(), static_cast<std::uint8_t>(original.back() + 1));
    EXPECT_TRUE(ReadBytes(file) == original);

    frame.close();

    Bytes expected = original;
    ++expected[99];
    ++expected.back();
    EXPECT_TRUE(ReadBytes(file) == expected);
}

TEST_F(FrameFileTest, NothingIsWrittenUnlessAChangeIsClosed) {
    {
        FrameFile dropped(file);
        dropped.writeByte(100, static_cast<std::uint8_t>(original[99] + 1));
    }
    FrameFile frame(file);
    for (std::size_t p = 1; p <= original.size(); p += 7) {
        frame.writeByte(p, frame.readByte(p));
    }
    frame.close();

    EXPECT_TRUE(ReadBytes(file) == original);
    EXPECT_EQ(fs::last_write_time(file), stamp);
}

TEST_F(FrameFileTest, BytesAfterTheFrameAreNeitherHeldNorTouched) {
    Bytes longer = original;
    longer.insert(longer.end(), 4096, 0xAB);
    WriteBytes(file, longer);
    FrameFile frame(file);
    frame.writeByte(original.size(), 0);
    EXPECT_THROW(frame.readByte(original.size() + 1), FileError);
    frame.close();

    const Bytes result = ReadBytes(file);
    ASSERT_EQ(result.size(), longer.size());
    EXPECT_EQ(result[original.size() - 1], 0);
    EXPECT_EQ(result[original.size()], 0xAB);
    EXPECT_EQ(result.back(), 0xAB);
}

TEST_F(FrameFileTest, AccessHandsItsChangesToTheFileWhenItEnds) {
    FrameFile frame(file);
    {
        FrameAccess access(frame);
        EXPECT_EQ(access.dataOffset(), 54u);
        access.writeByte(55, static_cast<std::uint8_t>(original[54] ^ 0xFF));
        EXPECT_EQ(frame.readByte(55), original[54] ^ 0xFF);
        // Closing in the middle of a pass would lose what the pass changed.
        EXPECT_THROW(frame.close(), std::logic_error);
    }
    frame.close();

    Bytes expected = original;
    expected[54] ^= 0xFF;
    EXPECT_TRUE(ReadBytes(file) == expected);
}

TEST_F(FrameFileTest, PositionsOutsideTheFrameAreErrors) {
    FrameFile frame(file);
    FrameAccess access(frame);

    EXPECT_THROW(access.readByte(0), FileError);
    EXPECT_THROW(access.writeByte(original.size() + 1, 1), FileError);
    EXPECT_THROW(frame.readByte(0), FileError);
    EXPECT_THROW(frame.readByte(original.size() + 1), FileError);
    EXPECT_THROW(frame.writeByte(0, 1), FileError);
    EXPECT_THROW(frame.writeByte(original.size() + 1, 1), FileError);
}

TEST_F(FrameFileTest, CheckReadsOnlyTheHeaderAndSize) {
    EXPECT_NO_THROW(FrameFile::check(file));
    fs::resize_file(file, original.size() - 1);
    EXPECT_THROW(FrameFile::check(file), FileError);
    EXPECT_THROW(FrameFile::check(dir.path()), FileError);
    EXPECT_THROW(FrameFile frame(dir.path()), FileError);
}

} // namespace
} // namespace lumenvale
