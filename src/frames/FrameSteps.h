// The in-place processing steps of frame files in the working directory.
#pragma once

#include <filesystem>

namespace lumenvale {

class FileSystemObject;
class Messages;

// Working file names, relative to the working directory.
inline constexpr const char* TempFile = "temp.bmp";
inline constexpr const char* Temp2File = "temp2.bmp";
inline constexpr const char* Temp3File = "temp3.bmp";
inline constexpr const char* BinnedRawFile = "frame0x37.bmp";
inline constexpr const char* Field1RawFile = "hires0x35.bmp";
inline constexpr const char* Field2RawFile = "hires0x37.bmp";

// Each step throws FileError naming the file and the reason when a file is missing, cannot be
// read or written, or is not a 640 x 480, 24-bit, uncompressed frame; a refused file is left
// byte for byte as it was.

// Stored rows 1, 3, ..., 477 of "temp.bmp" become copies of rows 0, 2, ..., 476.
void DoubleFrameLines(const std::filesystem::path& dir);

// Darkens the even rows 0..476 of "temp2.bmp" so its sampled brightness does not exceed that of
// "temp.bmp"; ends with one beep.
void MatchFieldBrightness(const std::filesystem::path& dir, Messages& messages);

// Exchanges "temp.bmp" and "temp2.bmp" through "temp3.bmp"; undone if a rename fails part-way.
void SwapFieldFiles(const std::filesystem::path& dir, FileSystemObject& files);

// Rows 3, 5, ..., 479 of "temp.bmp" become copies of rows 2, 4, ..., 478 of "temp2.bmp".
void InterleaveFields(const std::filesystem::path& dir);

} // namespace lumenvale
