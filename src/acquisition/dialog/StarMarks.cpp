// Drawing the focus star's marks.
#include "acquisition/dialog/StarMarks.h"

#include <QPainter>
#include <QPen>

namespace lumenvale {

void StarMarks::draw(QImage& picture, const FocusMeasure::Star& star,
                     const std::vector<StarPatch>& others) {
    QPainter painter(&picture);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Other, 1, Qt::DashLine));
    for (const StarPatch& other : others) {
        const double r = other.extent + 3;
        painter.drawEllipse(other.centre, r, r);
    }
    painter.setPen(QPen(Followed, 2));
    const double r = radius(star.hfd);
    painter.drawEllipse(star.centre, r, r);
}

} // namespace lumenvale
