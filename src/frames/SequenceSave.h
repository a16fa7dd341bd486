// Naming and writing the numbered frames of a run.
#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <string>

namespace lumenvale {

// Frame number requested - (remaining - 1), at least three digits: "001", "010", "1000".
// Throws std::overflow_error when the number does not fit in 16 bits.
QString SequenceNumberText(std::int16_t framesRequested, std::int16_t framesRemaining);

// saveDir + "/" + baseName + number + ".bmp". Throws FileError naming the path when the base
// name would leave saveDir (it holds a "/") or cannot be passed to the system (a NUL), or when
// no saveDir is set; std::overflow_error as SequenceNumberText.
std::filesystem::path SequenceFramePath(std::int16_t framesRequested, std::int16_t framesRemaining,
                                        const std::string& saveDir, const QString& baseName);

// Saves `picture` (the viewer's current one) under SequenceFramePath(...), safely; returns the
// path. Throws FileError naming the path when it cannot be written.
std::filesystem::path SaveSequenceFrame(std::int16_t framesRequested, std::int16_t framesRemaining,
                                        const std::string& saveDir, const QString& baseName,
                                        const QImage& picture);

} // namespace lumenvale
