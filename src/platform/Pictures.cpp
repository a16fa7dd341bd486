// BMP pictures through QImage.
#include "platform/Pictures.h"

#include "platform/Errors.h"
#include "platform/SafeWrite.h"

#include <QImageReader>
#include <QImageWriter>
#include <QString>

namespace fs = std::filesystem;

namespace lumenvale {

QImage LoadPicture(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        throw FileError(file, "no such file");
    }
    QImageReader reader(QString::fromStdString(file.string()));
    reader.setDecideFormatFromContent(true);
    QImage picture = reader.read();
    if (picture.isNull()) {
        throw FileError(file, "not a picture (" + reader.errorString().toStdString() + ")");
    }
    return picture;
}

void SavePicture(const QImage& picture, const fs::path& file) {
    if (picture.isNull()) {
        throw FileError(file, "there is no picture to save");
    }
    WriteFileSafely(file, [&](const fs::path& temp) {
        // RGB888 makes the BMP writer produce 24 bits per pixel.
        const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
        QImageWriter writer(QString::fromStdString(temp.string()), "bmp");
        if (!writer.write(rgb)) {
            throw FileError(temp, "cannot write picture: " + writer.errorString().toStdString());
        }
    });
}

} // namespace lumenvale
