// Message boxes and the beep on Qt.
#include "platform/Messages.h"

#include <QApplication>
#include <QMessageBox>

namespace lumenvale {

void QtMessages::MsgBox(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title.isEmpty() ? QStringLiteral("Lumenvale") : title,
                    text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void QtMessages::Beep() {
    QApplication::beep();
}

} // namespace lumenvale
