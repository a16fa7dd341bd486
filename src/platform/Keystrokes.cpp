// The Return keystroke, posted to the active modal window.
#include "platform/Keystrokes.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace lumenvale {

void QtKeystrokes::sendEnter() {
    QWidget* target = QApplication::activeModalWidget();
    if (target == nullptr) {
        target = QApplication::activeWindow();
    }
    if (target == nullptr) {
        return;
    }
    // A dialog's default button answers Return sent to the dialog itself; posting (rather
    // than sending) returns at once, as the keystroke always did.
    QCoreApplication::postEvent(target,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
    QCoreApplication::postEvent(target,
                                new QKeyEvent(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier));
}

} // namespace lumenvale
