// Frame files made by the tests themselves (640 x 480, 24-bit BMPs built from a pixel rule), the
// processing steps by name, and the scratch directories and file helpers the tests work with.
#pragma once

#include "platform/Errors.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

namespace lumenvale {
class Messages;
}

namespace lumenvale::test {

inline constexpr int FixtureWidth = 640;
inline constexpr int FixtureHeight = 480;
inline constexpr std::size_t FixtureRowBytes = 1920;
inline constexpr std::size_t FixturePixelBytes = FixtureRowBytes * FixtureHeight;

// Blue, green, red: the order of the bytes of a pixel in the file.
using FixturePixel = std::array<std::uint8_t, 3>;
// The pixel at column x (0 = left) of stored row r (0 = bottom line of the picture).
using PixelRule = std::function<FixturePixel(int x, int storedRow)>;

// A bottom-up, uncompressed 640 x 480 x 24 BMP. infoHeaderSize is 40 (pixel data at offset 54,
// 921,654 bytes in all) or 124 (the larger header, pixel data at offset 138).
std::vector<std::uint8_t> MakeFrameBytes(const PixelRule& pixel, int infoHeaderSize = 40);

// A rule under which no two stored rows are alike (and the columns differ too), so a row taken
// from the wrong place shows. Different seeds give different pictures.
PixelRule DistinctRows(std::uint32_t seed = 0);

// Every byte of every pixel is `value`.
PixelRule Uniform(std::uint8_t value);

// Offset of the pixel data, from the header.
std::size_t PixelDataOffset(std::span<const std::uint8_t> frame);
// The 1920 bytes of stored row `storedRow`.
std::span<const std::uint8_t> StoredRow(std::span<const std::uint8_t> frame, int storedRow);
std::span<std::uint8_t> StoredRow(std::span<std::uint8_t> frame, int storedRow);

// Little-endian header fields, for tests that spoil a header on purpose.
void PutLe16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value);
void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);

// The four processing steps under the names the frames tool gives them, each run as the program
// runs it (the swap through the real file object).
struct FrameStep {
    const char* name;
    bool readsTemp2; // doubling works on "temp.bmp" alone
    void (*run)(const std::filesystem::path& dir, Messages& messages);
};
extern const std::array<FrameStep, 4> FrameSteps;

// A fresh directory under the system's temporary directory, removed with everything in it.
// TempDirTest is the same as a fixture, for tests that write text files into one directory.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const {
        return path_ / name;
    }
    // How many entries the directory holds.
    std::size_t entries() const;

private:
    std::filesystem::path path_;
};

// Whole-file helpers; both fail the calling test (ADD_FAILURE) on an I/O error.
void WriteBytes(const std::filesystem::path& file, std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& file);

// The FileError that `op` throws; when it throws none, the test fails and an empty error is
// returned, so the caller's checks on the error fail as well.
FileError ThrownFileError(const std::function<void()>& op);

} // namespace lumenvale::test
