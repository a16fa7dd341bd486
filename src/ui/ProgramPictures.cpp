// The pictures of the program's own making.
#include "ui/ProgramPictures.h"

#include <QPainter>

// The pictures live in a static library, whose resource registration the linker would drop
// unless something calls it; Q_INIT_RESOURCE has to be called outside any namespace.
static void registerPictures() {
    Q_INIT_RESOURCE(lumenvale);
}

namespace lumenvale {

QPixmap BackgroundPicture() {
    registerPictures();
    return QPixmap(QStringLiteral(":/lumenvale/background.png"));
}

QIcon ProgramIcon() {
    registerPictures();
    return QIcon(QStringLiteral(":/lumenvale/icon.png"));
}

QImage InitialViewerPicture() {
    QImage picture(640, 480, QImage::Format_RGB888);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setPen(QColor(200, 200, 200));
    painter.drawRect(picture.rect().adjusted(0, 0, -1, -1));
    painter.setPen(QColor(150, 150, 150));
    painter.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("Lumenvale"));
    return picture;
}

} // namespace lumenvale
