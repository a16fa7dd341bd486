// The picture scaled into a label inside the scroll area; dragging moves the scroll bars.
#include "ui/StackView.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace lumenvale {

StackView::StackView(QWidget* parent) : QScrollArea(parent), label_(new QLabel) {
    label_->setAlignment(Qt::AlignCenter);
    setWidget(label_);
    setAlignment(Qt::AlignCenter);
    setWidgetResizable(true); // the text fills the view until there is a picture
    setMinimumSize(320, 240);
}

void StackView::setPicture(const QImage& picture) {
    picture_ = picture;
    showPicture();
}

void StackView::setText(const QString& text) {
    picture_ = QImage();
    setWidgetResizable(true);
    label_->setText(text);
}

void StackView::setZoom(double zoom) {
    // The point in the middle of the view stays there.
    const double x = (horizontalScrollBar()->value() + viewport()->width() / 2.0) / scale();
    const double y = (verticalScrollBar()->value() + viewport()->height() / 2.0) / scale();
    zoom_ = zoom;
    showPicture();
    horizontalScrollBar()->setValue(int(std::lround(x * scale() - viewport()->width() / 2.0)));
    verticalScrollBar()->setValue(int(std::lround(y * scale() - viewport()->height() / 2.0)));
}

double StackView::scale() const {
    if (picture_.isNull()) {
        return 1;
    }
    if (zoom_ > 0) {
        return zoom_;
    }
    return std::min(double(viewport()->width()) / picture_.width(),
                    double(viewport()->height()) / picture_.height());
}

void StackView::showPicture() {
    if (picture_.isNull()) {
        return;
    }
    const Qt::ScrollBarPolicy bars = zoom_ > 0 ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    setHorizontalScrollBarPolicy(bars);
    setVerticalScrollBarPolicy(bars);
    const double s = scale();
    const QSize size(int(std::lround(picture_.width() * s)),
                     int(std::lround(picture_.height() * s)));
    // Magnified, every stack pixel shows as a square of its own.
    label_->setPixmap(QPixmap::fromImage(
        size == picture_.size()
            ? picture_
            : picture_.scaled(size, Qt::IgnoreAspectRatio,
                              s < 1 ? Qt::SmoothTransformation : Qt::FastTransformation)));
    setWidgetResizable(zoom_ <= 0);
    if (zoom_ > 0) {
        label_->resize(size);
    }
    viewport()->setCursor(zoom_ > 0 ? Qt::OpenHandCursor : Qt::ArrowCursor);
}

void StackView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    if (zoom_ <= 0) {
        showPicture();
    }
}

void StackView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || zoom_ <= 0) {
        QScrollArea::mousePressEvent(event);
        return;
    }
    dragging_ = true;
    dragFrom_ = event->position().toPoint();
    scrolledFrom_ = {horizontalScrollBar()->value(), verticalScrollBar()->value()};
    viewport()->setCursor(Qt::ClosedHandCursor);
}

void StackView::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) {
        QScrollArea::mouseMoveEvent(event);
        return;
    }
    const QPoint moved = event->position().toPoint() - dragFrom_;
    horizontalScrollBar()->setValue(scrolledFrom_.x() - moved.x());
    verticalScrollBar()->setValue(scrolledFrom_.y() - moved.y());
}

void StackView::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_) {
        QScrollArea::mouseReleaseEvent(event);
        return;
    }
    dragging_ = false;
    viewport()->setCursor(Qt::OpenHandCursor);
}

} // namespace lumenvale
