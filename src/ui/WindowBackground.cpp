// Window backgrounds through the palette, so each window paints its picture without code of
// its own and the transparent labels show it around their captions.
#include "ui/WindowBackground.h"

#include <QBrush>
#include <QPalette>
#include <QWidget>

namespace lumenvale {

WindowBackground::WindowBackground(QWidget& window, const QPixmap& picture) : window_(window) {
    if (picture.isNull()) {
        return;
    }
    window_.setAutoFillBackground(true);
    QPalette palette = window_.palette();
    palette.setBrush(QPalette::Window, QBrush(picture));
    window_.setPalette(palette);
    shown_ = true;
}

void WindowBackground::drop() {
    if (!shown_) {
        return;
    }
    shown_ = false;
    window_.setPalette(QPalette());
}

} // namespace lumenvale
