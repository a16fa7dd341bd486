// Frame files made by the tests themselves (640 x 480, 24-bit BMPs built from a pixel rule), the
// processing steps by name, and the scratch directories and file helpers the tests work with.
#include "support/FrameFixtures.h"

#include "frames/FrameSteps.h"
#include "platform/FileSystemObject.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace lumenvale::test {

namespace {

constexpr std::size_t FileHeaderSize = 14;

std::uint32_t Mix(std::uint32_t v) {
    v ^= v >> 16;
    v *= 0x7feb352dU;
    v ^= v >> 15;
    v *= 0x846ca68bU;
    v ^= v >> 16;
    return v;
}

} // namespace

void PutLe16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value) {
    bytes.at(offset) = static_cast<std::uint8_t>(value);
    bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::vector<std::uint8_t> MakeFrameBytes(const PixelRule& pixel, int infoHeaderSize) {
    const std::size_t dataOffset = FileHeaderSize + static_cast<std::size_t>(infoHeaderSize);
    std::vector<std::uint8_t> bytes(dataOffset + FixturePixelBytes, 0);

    bytes[0] = 'B';
    bytes[1] = 'M';
    PutLe32(bytes, 2, static_cast<std::uint32_t>(bytes.size()));
    PutLe32(bytes, 10, static_cast<std::uint32_t>(dataOffset));

    PutLe32(bytes, 14, static_cast<std::uint32_t>(infoHeaderSize));
    PutLe32(bytes, 18, FixtureWidth);
    PutLe32(bytes, 22, FixtureHeight); // positive: bottom-up
    PutLe16(bytes, 26, 1);             // planes
    PutLe16(bytes, 28, 24);            // bits per pixel
    PutLe32(bytes, 30, 0);             // uncompressed
    PutLe32(bytes, 34, static_cast<std::uint32_t>(FixturePixelBytes));
    PutLe32(bytes, 38, 2835); // 72 dpi
    PutLe32(bytes, 42, 2835);
    if (infoHeaderSize == 124) {
        PutLe32(bytes, 70, 0x73524742); // colour space "sRGB"
        PutLe32(bytes, 122, 4);         // rendering intent: pictures
    }

    for (int r = 0; r < FixtureHeight; ++r) {
        std::uint8_t* row = bytes.data() + dataOffset + FixtureRowBytes * r;
        for (int x = 0; x < FixtureWidth; ++x) {
            const FixturePixel p = pixel(x, r);
            row[3 * x] = p[0];
            row[3 * x + 1] = p[1];
            row[3 * x + 2] = p[2];
        }
    }
    return bytes;
}

PixelRule DistinctRows(std::uint32_t seed) {
    return [seed](int x, int r) -> FixturePixel {
        if (x == 0) {
            // The row number itself, so rows 256 apart differ as well.
            return {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(r >> 8),
                    static_cast<std::uint8_t>(seed)};
        }
        const std::uint32_t h = Mix(seed * 0x9e3779b9U + static_cast<std::uint32_t>(r) * 4099U +
                                    static_cast<std::uint32_t>(x));
        return {static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8),
                static_cast<std::uint8_t>(h >> 16)};
    };
}

PixelRule Uniform(std::uint8_t value) {
    return [value](int, int) -> FixturePixel { return {value, value, value}; };
}

std::size_t PixelDataOffset(std::span<const std::uint8_t> frame) {
    return static_cast<std::size_t>(frame[10]) | (static_cast<std::size_t>(frame[11]) << 8) |
           (static_cast<std::size_t>(frame[12]) << 16) |
           (static_cast<std::size_t>(frame[13]) << 24);
}

std::span<const std::uint8_t> StoredRow(std::span<const std::uint8_t> frame, int storedRow) {
    return frame.subspan(PixelDataOffset(frame) + FixtureRowBytes * storedRow, FixtureRowBytes);
}

std::span<std::uint8_t> StoredRow(std::span<std::uint8_t> frame, int storedRow) {
    return frame.subspan(PixelDataOffset(frame) + FixtureRowBytes * storedRow, FixtureRowBytes);
}

const std::array<FrameStep, 4> FrameSteps = {{
    {"double", false, [](const std::filesystem::path& dir, Messages&) { DoubleFrameLines(dir); }},
    {"match", true,
     [](const std::filesystem::path& dir, Messages& messages) {
         MatchFieldBrightness(dir, messages);
     }},
    {"swap", true,
     [](const std::filesystem::path& dir, Messages&) {
         FileSystemObject files;
         SwapFieldFiles(dir, files);
     }},
    {"interleave", true,
     [](const std::filesystem::path& dir, Messages&) { InterleaveFields(dir); }},
}};

ScratchDir::ScratchDir() {
    std::string name = (std::filesystem::temp_directory_path() / "lumenvale-test-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a scratch directory in " << name;
    }
    path_ = name;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::size_t ScratchDir::entries() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(path_),
                                                  std::filesystem::directory_iterator()));
}

void WriteBytes(const std::filesystem::path& file, std::span<const std::uint8_t> bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        ADD_FAILURE() << "cannot write " << file;
    }
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << file;
        return {};
    }
    in.seekg(0, std::ios::end);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) {
        ADD_FAILURE() << "cannot read " << file;
    }
    return bytes;
}

FileError ThrownFileError(const std::function<void()>& op) {
    try {
        op();
    } catch (const FileError& error) {
        return error;
    }
    ADD_FAILURE() << "no FileError was thrown";
    return FileError({}, {});
}

} // namespace lumenvale::test
