// Encoding and writing the acquired frame as a BMP file.
#include "acquisition/FrameBmp.h"

#include "platform/SafeWrite.h"

#include <cstdint>
#include <cstring>

namespace lumenvale {

namespace {

void putLe(std::string& out, std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out[at + std::size_t(i)] = char((value >> (8 * i)) & 0xFF);
    }
}

} // namespace

std::string EncodeFrameBmp(const AcquiredFrame& frame) {
    std::string out(FrameBmpFileBytes, '\0');
    out[0] = 'B';
    out[1] = 'M';
    putLe(out, 2, std::uint32_t(FrameBmpFileBytes), 4);
    putLe(out, 10, std::uint32_t(FrameBmpHeaderBytes), 4); // pixel data offset
    putLe(out, 14, 40, 4);                                 // information header size
    putLe(out, 18, AcquiredFrame::Width, 4);
    putLe(out, 22, AcquiredFrame::Height, 4); // positive: bottom-up
    putLe(out, 26, 1, 2);                     // planes
    putLe(out, 28, 24, 2);                    // bits per pixel
    putLe(out, 30, 0, 4);                     // uncompressed
    putLe(out, 34, std::uint32_t(AcquiredFrame::PixelBytes), 4);
    putLe(out, 38, 2835, 4); // 72 dots per inch, as pixels per metre
    putLe(out, 42, 2835, 4);
    std::memcpy(out.data() + FrameBmpHeaderBytes, frame.pixels().data(), AcquiredFrame::PixelBytes);
    return out;
}

void WriteFrameBmp(const std::filesystem::path& file, const AcquiredFrame& frame) {
    WriteFileSafely(file, EncodeFrameBmp(frame));
}

} // namespace lumenvale
