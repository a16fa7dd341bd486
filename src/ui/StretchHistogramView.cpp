// Bars on a logarithmic scale, so the stars' few counts show beside the sky's many.
#include "ui/StretchHistogramView.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace lumenvale {

StretchHistogramView::StretchHistogramView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(200, 40);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::SizeHorCursor);
}

void StretchHistogramView::setHistogram(const StackStretch::Histogram& histogram,
                                        StackStretch::Points points) {
    histogram_ = histogram;
    if (!draggingBlack_) {
        points_ = points;
    }
    update();
}

int StretchHistogramView::xOf(double level) const {
    return int(std::lround(std::clamp(histogram_.fraction(level), 0.0, 1.0) * (width() - 1)));
}

double StretchHistogramView::levelAt(double x) const {
    return histogram_.level(x / std::max(1, width() - 1));
}

void StretchHistogramView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    if (histogram_.counts.empty()) {
        return;
    }
    const int most = *std::max_element(histogram_.counts.begin(), histogram_.counts.end());
    const double top = std::log1p(double(std::max(1, most)));
    const double barWidth = double(width()) / StackStretch::Histogram::Bins;
    for (int i = 0; i < StackStretch::Histogram::Bins; ++i) {
        const int h = int(height() * std::log1p(histogram_.counts[std::size_t(i)]) / top);
        painter.fillRect(QRectF(i * barWidth, height() - h, std::max(1.0, barWidth), h),
                         palette().text());
    }
    painter.setPen(QPen(Qt::blue, 2));
    painter.drawLine(xOf(points_.black), 0, xOf(points_.black), height());
    painter.setPen(QPen(Qt::red, 2));
    painter.drawLine(xOf(points_.white), 0, xOf(points_.white), height());
}

void StretchHistogramView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || histogram_.counts.empty()) {
        return;
    }
    // The nearer of the two points; on the same spot, the one that can move that way.
    const double x = event->position().x();
    const double toBlack = std::abs(x - xOf(points_.black));
    const double toWhite = std::abs(x - xOf(points_.white));
    draggingBlack_ = toBlack < toWhite || (toBlack == toWhite && x < xOf(points_.black));
    mouseMoveEvent(event);
}

void StretchHistogramView::mouseMoveEvent(QMouseEvent* event) {
    if (!draggingBlack_) {
        return;
    }
    points_ = histogram_.moved(points_, *draggingBlack_, levelAt(event->position().x()));
    update();
    emit pointsMoved(points_);
}

void StretchHistogramView::mouseReleaseEvent(QMouseEvent* /*event*/) {
    draggingBlack_.reset();
}

} // namespace lumenvale
