// The stack's histogram under the Live stack window's picture, with the stretch's black and
// white points as two lines the user drags. It only draws and passes the points on: the
// histogram and where the points may go are StackStretch's.
#pragma once

#include "analysis/StackStretch.h"

#include <QWidget>

#include <optional>

namespace lumenvale {

class StretchHistogramView : public QWidget {
    Q_OBJECT

public:
    explicit StretchHistogramView(QWidget* parent = nullptr);

    // The points are not moved while the user drags one.
    void setHistogram(const StackStretch::Histogram& histogram, StackStretch::Points points);
    StackStretch::Points points() const { return points_; }
    // Where a point is drawn, in the widget's pixels.
    int xOf(double level) const;

    QSize sizeHint() const override { return {400, 60}; }

signals:
    void pointsMoved(lumenvale::StackStretch::Points points);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    double levelAt(double x) const;

    StackStretch::Histogram histogram_;
    StackStretch::Points points_;
    std::optional<bool> draggingBlack_;
};

} // namespace lumenvale
