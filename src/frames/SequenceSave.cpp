// Numbered names for the frames of a run, and saving the viewer's picture under them.
#include "frames/SequenceSave.h"

#include "platform/Errors.h"
#include "platform/Pictures.h"

#include <limits>
#include <stdexcept>

namespace fs = std::filesystem;

namespace lumenvale {

namespace {

std::int16_t checked16(int value) {
    if (value < std::numeric_limits<std::int16_t>::min() ||
        value > std::numeric_limits<std::int16_t>::max()) {
        throw std::overflow_error("frame number out of range");
    }
    return static_cast<std::int16_t>(value);
}

} // namespace

QString SequenceNumberText(std::int16_t framesRequested, std::int16_t framesRemaining) {
    // Worked out in the same two 16-bit steps as the count-down, so a count that overflows
    // there overflows here too instead of wrapping to a wrong name.
    const std::int16_t before = checked16(framesRemaining - 1);
    const std::int16_t number = checked16(framesRequested - before);
    QString text = QString::number(number);
    if (text.size() == 1) {
        text.prepend(QStringLiteral("00"));
    }
    if (text.size() == 2) {
        text.prepend(QLatin1Char('0'));
    }
    return text;
}

fs::path SequenceFramePath(std::int16_t framesRequested, std::int16_t framesRemaining,
                           const std::string& saveDir, const QString& baseName) {
    const std::string name = baseName.toStdString() +
                             SequenceNumberText(framesRequested, framesRemaining).toStdString() +
                             ".bmp";
    // The separator is always added, even after a directory that ends in one.
    const fs::path path(saveDir + "/" + name);

    // The base name is typed by the user while a run goes on; it must never put a frame
    // anywhere but in the save directory. With the number after it, even "." or ".." is an
    // ordinary name there (".001.bmp"); a name too long is the file system's to refuse.
    const std::string base = baseName.toStdString();
    if (base.find('/') != std::string::npos) {
        throw FileError(path,
                        "the base name \"" + base + "\" cannot be used: it must not contain \"/\"");
    }
    // A NUL byte would cut the name short where the system reads it, saving somewhere else.
    if (path.native().find('\0') != std::string::npos) {
        throw FileError(path, "the name contains a NUL character");
    }
    // An unset directory would otherwise save into the file system root.
    if (saveDir.empty()) {
        throw FileError(path, "no save directory is set");
    }
    return path;
}

fs::path SaveSequenceFrame(std::int16_t framesRequested, std::int16_t framesRemaining,
                           const std::string& saveDir, const QString& baseName,
                           const QImage& picture) {
    const fs::path path = SequenceFramePath(framesRequested, framesRemaining, saveDir, baseName);
    SavePicture(picture, path);
    return path;
}

} // namespace lumenvale
