// Reading a SER video file back as the planetary stackers do: the header, the frames and the
// trailer's UTC times. Independent of the program's writer, so a test of one checks the other.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumenvale::test {

struct SerFile {
    std::string fileId;
    std::int32_t luId = -1;
    std::int32_t colourId = -1;
    std::int32_t littleEndian = -1;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t depth = 0;
    std::int32_t frameCount = 0;
    std::string observer;
    std::string instrument;
    std::string telescope;
    std::int64_t localTicks = 0;
    std::int64_t utcTicks = 0;
    std::vector<std::vector<std::uint8_t>> frames;
    std::vector<std::int64_t> trailer; // empty when the file has none
};

// The file at `path`; nothing, and `why` says what is wrong, when it is not a valid SER file:
// its size must be the header and frameCount frames, with or without the whole trailer.
std::optional<SerFile> ReadSer(const std::filesystem::path& path, std::string& why);

} // namespace lumenvale::test
