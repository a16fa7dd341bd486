// The viewer's File > Open and File > Save As commands.
#include "ui/PictureFileCommands.h"

#include "camera/FrameDisplay.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/Pictures.h"
#include "ui/FileDialogs.h"

#include <filesystem>

namespace lumenvale {

namespace {

std::filesystem::path toPath(const QString& name) {
    return std::filesystem::path(name.toStdString());
}

} // namespace

bool PictureFileCommands::Open(QWidget* parent) {
    const QString name = dialogs_.getOpenFileName(parent, QString::fromLatin1(PictureFilter));
    if (name.isEmpty()) {
        return false;
    }
    QImage picture;
    try {
        picture = LoadPicture(toPath(name));
    } catch (const FileError& e) {
        messages_.MsgBox(QStringLiteral("Cannot open the picture \"%1\": %2")
                             .arg(name, QString::fromStdString(e.reason())));
        return false;
    }
    display_.showPicture(picture);
    return true;
}

bool PictureFileCommands::Save(QWidget* parent) {
    const QString name = dialogs_.getSaveFileName(parent, QString::fromLatin1(PictureFilter));
    if (name.isEmpty()) {
        return false;
    }
    try {
        // The picture as it is when the user confirms the name.
        SavePicture(display_.Picture(), toPath(name));
    } catch (const FileError& e) {
        messages_.MsgBox(QStringLiteral("Cannot save the picture as \"%1\": %2")
                             .arg(name, QString::fromStdString(e.reason())));
        return false;
    }
    return true;
}

} // namespace lumenvale
