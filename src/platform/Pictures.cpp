// BMP pictures through QImage.
#include "platform/Pictures.h"

#include "platform/Errors.h"
#include "platform/SafeWrite.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QImageWriter>
#include <QString>

#include <string_view>

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
    // Encoded in memory and written by the safe write: Qt's writer reports a failed file write
    // as "Unknown error", where the system's reason (a full disk) is what the user needs.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // RGB888 makes the BMP writer produce 24 bits per pixel.
    QImageWriter writer(&buffer, "bmp");
    if (!writer.write(picture.convertToFormat(QImage::Format_RGB888))) {
        throw FileError(file, "cannot encode the picture: " + writer.errorString().toStdString());
    }
    WriteFileSafely(file,
                    std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

} // namespace lumenvale
