// The frame file the acquisition writes: a 640 x 480, 24-bit, bottom-up BMP with a 54-byte
// header, 921,654 bytes in all.
#pragma once

#include "frames/AcquiredFrame.h"

#include <cstddef>
#include <filesystem>
#include <string>

namespace lumenvale {

inline constexpr std::size_t FrameBmpHeaderBytes = 54;
inline constexpr std::size_t FrameBmpFileBytes = FrameBmpHeaderBytes + AcquiredFrame::PixelBytes;

// The whole file as bytes.
std::string EncodeFrameBmp(const AcquiredFrame& frame);

// Writes the file through a temporary name and a rename, so a reader never sees half a frame
// and a failed write leaves an existing file as it was. Throws FileError naming `file`.
void WriteFrameBmp(const std::filesystem::path& file, const AcquiredFrame& frame);

} // namespace lumenvale
