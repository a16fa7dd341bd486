// Placing controls where the window definitions put them, in twips.
#pragma once

#include <QString>
#include <QWidget>

namespace lumenvale {

// Window definitions give places in twips; the screen has 15 twips to the pixel.
constexpr int px(int twips) {
    return twips / 15;
}

// A new control of `window` named `name` (its objectName), at a place given in twips.
template <typename Control>
Control* place(QWidget* window, const char* name, int left, int top, int width, int height) {
    auto* control = new Control(window);
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(px(left), px(top), px(width), px(height));
    return control;
}

} // namespace lumenvale
