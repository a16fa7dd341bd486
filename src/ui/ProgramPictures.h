// The pictures of the program's own making: window background, icon, the viewer's first picture.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace lumenvale {

// The background tile shared by the viewer, Control and Settings windows.
QPixmap BackgroundPicture();

// The program's window icon.
QIcon ProgramIcon();

// What the viewer shows before the first frame or picture: 640 x 480, 24-bit, mostly white.
QImage InitialViewerPicture();

} // namespace lumenvale
