// The viewer's File > Open and File > Save As commands.
#pragma once

#include <QString>

class QWidget;

namespace lumenvale {

class FileDialogs;
class FrameDisplay;
class Messages;

// The single filter both dialogs offer.
inline constexpr const char* PictureFilter = "pictures (*.bmp)";

class PictureFileCommands {
public:
    PictureFileCommands(FileDialogs& dialogs, Messages& messages, FrameDisplay& display)
        : dialogs_(dialogs), messages_(messages), display_(display) {}

    // Asks for a file and shows its picture. A cancelled dialog changes nothing; a file that
    // cannot be loaded is named in a message and the picture on show stays. True when a
    // picture was loaded.
    bool Open(QWidget* parent);

    // Asks for a name and saves the picture on show under exactly that name, replacing a file
    // of that name. A cancelled dialog writes nothing; a failure is named in a message and the
    // old file, if any, stays whole. True when the picture was saved.
    bool Save(QWidget* parent);

private:
    FileDialogs& dialogs_;
    Messages& messages_;
    FrameDisplay& display_;
};

} // namespace lumenvale
