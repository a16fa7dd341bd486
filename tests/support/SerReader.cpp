// The SER layout read field by field at its offsets, little-endian.
#include "support/SerReader.h"

#include <fstream>
#include <iterator>

namespace lumenvale::test {

namespace {

constexpr std::size_t HeaderBytes = 178;

std::int64_t number(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value |= std::uint64_t(bytes[at + i]) << (8 * i);
    }
    return size == 4 ? std::int64_t(std::int32_t(std::uint32_t(value))) : std::int64_t(value);
}

std::string text(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t size) {
    std::string out(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + size));
    return out.substr(0, out.find('\0'));
}

} // namespace

std::optional<SerFile> ReadSer(const std::filesystem::path& path, std::string& why) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.size() < HeaderBytes) {
        why = "shorter than the header: " + std::to_string(bytes.size()) + " bytes";
        return std::nullopt;
    }
    SerFile ser;
    ser.fileId = text(bytes, 0, 14);
    ser.luId = std::int32_t(number(bytes, 14, 4));
    ser.colourId = std::int32_t(number(bytes, 18, 4));
    ser.littleEndian = std::int32_t(number(bytes, 22, 4));
    ser.width = std::int32_t(number(bytes, 26, 4));
    ser.height = std::int32_t(number(bytes, 30, 4));
    ser.depth = std::int32_t(number(bytes, 34, 4));
    ser.frameCount = std::int32_t(number(bytes, 38, 4));
    ser.observer = text(bytes, 42, 40);
    ser.instrument = text(bytes, 82, 40);
    ser.telescope = text(bytes, 122, 40);
    ser.localTicks = number(bytes, 162, 8);
    ser.utcTicks = number(bytes, 170, 8);
    const std::size_t planes = ser.colourId >= 100 ? 3 : 1;
    const std::size_t frameBytes =
        std::size_t(ser.width) * std::size_t(ser.height) * planes * (ser.depth > 8 ? 2 : 1);
    const std::size_t count = std::size_t(ser.frameCount);
    const std::size_t framesEnd = HeaderBytes + frameBytes * count;
    // The file's id is the writer's name ("LUCAM-RECORDER", libindi's "INDI-RECORDER"): the
    // stackers read any.
    if (frameBytes == 0 || ser.frameCount < 0 ||
        (bytes.size() != framesEnd && bytes.size() != framesEnd + 8 * count)) {
        why = "id \"" + ser.fileId + "\", " + std::to_string(ser.frameCount) + " frames of " +
              std::to_string(frameBytes) + " bytes, file of " + std::to_string(bytes.size());
        return std::nullopt;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const auto start = bytes.begin() + std::ptrdiff_t(HeaderBytes + i * frameBytes);
        ser.frames.emplace_back(start, start + std::ptrdiff_t(frameBytes));
    }
    for (std::size_t at = framesEnd; at < bytes.size(); at += 8) {
        ser.trailer.push_back(number(bytes, at, 8));
    }
    return ser;
}

} // namespace lumenvale::test
