// Drawing the focus trend.
#include "acquisition/dialog/FocusTrendView.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace lumenvale {

FocusTrendView::FocusTrendView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FocusTrend"));
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(true);
    QPalette dark = palette();
    dark.setColor(QPalette::Window, Qt::black);
    setPalette(dark);
}

void FocusTrendView::add(double hfd) {
    readings_.push_back(hfd);
    if (readings_.size() > Length) {
        readings_.pop_front();
    }
    update();
}

void FocusTrendView::clear() {
    readings_.clear();
    update();
}

std::optional<std::size_t> FocusTrendView::best() const {
    if (readings_.empty()) {
        return std::nullopt;
    }
    return std::size_t(std::min_element(readings_.begin(), readings_.end()) - readings_.begin());
}

void FocusTrendView::paintEvent(QPaintEvent*) {
    const auto bestIndex = best();
    if (!bestIndex) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto [low, high] = std::minmax_element(readings_.begin(), readings_.end());
    // A little room above and below, and a scale that does not magnify the last 0.01 pixel.
    const double bottom = *low - 0.25;
    const double range = std::max(*high - *low, 0.5) + 0.5;
    const QRectF area = QRectF(rect()).adjusted(4, 26, -4, -4);
    const auto point = [&](std::size_t i) {
        const double x = area.left() + area.width() * double(i) / double(Length - 1);
        const double y = area.bottom() - area.height() * (readings_[i] - bottom) / range;
        return QPointF(x, y);
    };
    QPainterPath line(point(0));
    for (std::size_t i = 1; i < readings_.size(); ++i) {
        line.lineTo(point(i));
    }
    painter.setPen(QPen(QColor(120, 200, 255), 1.5));
    painter.drawPath(line);

    const QPointF mark = point(*bestIndex);
    painter.setPen(QPen(Qt::yellow, 1.5));
    painter.drawEllipse(mark, 3.5, 3.5);
    // The figures in larger type than the dialog's, to be read from the focuser.
    QFont figures = painter.font();
    if (figures.pointSizeF() > 0) {
        figures.setPointSizeF(figures.pointSizeF() * 1.5);
    }
    figures.setBold(true);
    painter.setFont(figures);
    painter.drawText(QRectF(rect()).adjusted(4, 0, -4, 0), Qt::AlignTop | Qt::AlignLeft,
                     QStringLiteral("best %1").arg(readings_[*bestIndex], 0, 'f', 2));
    painter.setPen(QPen(QColor(120, 200, 255), 1.5));
    painter.drawText(QRectF(rect()).adjusted(4, 0, -4, 0), Qt::AlignTop | Qt::AlignRight,
                     QStringLiteral("now %1").arg(readings_.back(), 0, 'f', 2));
}

} // namespace lumenvale
