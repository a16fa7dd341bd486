// Loading and saving BMP pictures for display.
#pragma once

#include <QImage>

#include <filesystem>

namespace lumenvale {

// Loads a picture; throws FileError naming the file when it is missing or not a picture.
QImage LoadPicture(const std::filesystem::path& file);

// Saves a picture as a 24-bit BMP under exactly the name given (no extension added),
// replacing an existing file only once the new one is complete. Throws FileError.
void SavePicture(const QImage& picture, const std::filesystem::path& file);

} // namespace lumenvale
