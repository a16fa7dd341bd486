// The stack in the Live stack window: the whole of it fitted into the view, or at 100 % or
// 200 % and panned by dragging. A new picture keeps the zoom and where the view was panned to.
#pragma once

#include <QImage>
#include <QPoint>
#include <QScrollArea>

class QLabel;

namespace lumenvale {

class StackView : public QScrollArea {
    Q_OBJECT

public:
    explicit StackView(QWidget* parent = nullptr);

    void setPicture(const QImage& picture);
    void setText(const QString& text);
    // Screen pixels per stack pixel; 0 fits the whole stack into the view.
    void setZoom(double zoom);
    // The scale the stack is shown at.
    double scale() const;

    // A binned or hi-res frame's 640 x 480 at 100 %.
    QSize sizeHint() const override {
        return QSize(640, 480) + QSize(2 * frameWidth(), 2 * frameWidth());
    }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void showPicture();

    QLabel* label_ = nullptr;
    QImage picture_;
    double zoom_ = 0;
    QPoint dragFrom_;
    QPoint scrolledFrom_;
    bool dragging_ = false;
};

} // namespace lumenvale
