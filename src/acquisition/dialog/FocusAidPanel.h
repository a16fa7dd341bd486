// The focus aid beside the live picture: the focus star magnified with a crosshair, its
// half-flux diameter in type large enough to read from the focuser, its other figures, and the
// trend of its half-flux diameter; "no star" when the frame shows none.
#pragma once

#include "analysis/FocusMeasure.h"

#include <QImage>
#include <QWidget>

#include <optional>

class QLabel;

namespace lumenvale {

class FocusTrendView;

class FocusAidPanel : public QWidget {
    Q_OBJECT

public:
    // The smallest piece of the picture around the star, and how much it is magnified.
    static constexpr int CropSize = 48;
    static constexpr int Zoom = 4;
    // The HFD's type against the dialog's.
    static constexpr int HfdTypeScale = 3;

    explicit FocusAidPanel(QWidget* parent);

    // `picture` is the frame the right way up, as the camera gave it.
    void showMeasurement(const QImage& picture, const std::optional<FocusMeasure::Star>& star);
    // Readings of another star do not belong on the same trend.
    void clearTrend();

    const std::optional<FocusMeasure::Star>& star() const { return star_; }
    const FocusTrendView& trend() const { return *trend_; }

private:
    QImage magnified(const QImage& picture, const FocusMeasure::Star& star) const;

    QLabel* crop_ = nullptr;
    QLabel* hfd_ = nullptr;
    QLabel* figures_ = nullptr;
    FocusTrendView* trend_ = nullptr;
    std::optional<FocusMeasure::Star> star_;
};

} // namespace lumenvale
