// The shared background picture of a window, tiled behind its controls until it is dropped.
#pragma once

#include <QPixmap>

class QWidget;

namespace lumenvale {

class WindowBackground {
public:
    // Tiles `picture` over `window` (borrowed; it outlives this object).
    WindowBackground(QWidget& window, const QPixmap& picture);

    // Replaces the picture by none: the window shows its plain colour from now on.
    void drop();
    bool shown() const { return shown_; }

private:
    QWidget& window_;
    bool shown_ = false;
};

} // namespace lumenvale
