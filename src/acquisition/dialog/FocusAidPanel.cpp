// The focus aid's widgets.
#include "acquisition/dialog/FocusAidPanel.h"

#include "acquisition/dialog/FocusTrendView.h"
#include "analysis/DisplayStretch.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

#include <cmath>

namespace lumenvale {

namespace {

constexpr int Shown = FocusAidPanel::CropSize * FocusAidPanel::Zoom;

} // namespace

FocusAidPanel::FocusAidPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FocusAid"));
    // The dialog's default button keeps the keyboard, so the readout timer's Return confirms it.
    setFocusPolicy(Qt::NoFocus);

    crop_ = new QLabel(this);
    crop_->setObjectName(QStringLiteral("FocusStar"));
    crop_->setFixedSize(Shown, Shown);
    crop_->setAutoFillBackground(true);
    QPalette dark = crop_->palette();
    dark.setColor(QPalette::Window, Qt::black);
    crop_->setPalette(dark);

    hfd_ = new QLabel(QStringLiteral("HFD \u2014"), this);
    hfd_->setObjectName(QStringLiteral("FocusHfd"));
    QFont large = hfd_->font();
    if (large.pixelSize() > 0) {
        large.setPixelSize(large.pixelSize() * HfdTypeScale);
    } else {
        large.setPointSizeF(large.pointSizeF() * HfdTypeScale);
    }
    large.setBold(true);
    hfd_->setFont(large);

    figures_ = new QLabel(QStringLiteral("no star"), this);
    figures_->setObjectName(QStringLiteral("FocusFigures"));
    figures_->setMinimumHeight(figures_->fontMetrics().lineSpacing() * 4);
    figures_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    trend_ = new FocusTrendView(this);
    trend_->setFixedSize(Shown, 100);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(crop_);
    layout->addWidget(hfd_);
    layout->addWidget(figures_);
    layout->addWidget(trend_);
    layout->addStretch(1);
}

void FocusAidPanel::showMeasurement(const QImage& picture,
                                    const std::optional<FocusMeasure::Star>& star) {
    star_ = star;
    if (!star) {
        crop_->clear();
        hfd_->setText(QStringLiteral("HFD \u2014"));
        figures_->setText(QStringLiteral("no star"));
        return;
    }
    crop_->setPixmap(QPixmap::fromImage(magnified(picture, *star)));
    hfd_->setText(QStringLiteral("HFD %1").arg(star->hfd, 0, 'f', 2));
    // A clipped core or a donut has no width a fit can tell: no figure rather than a wrong one.
    const QString fwhm = star->fwhmMeaningful() ? QStringLiteral("%1 px").arg(star->fwhm, 0, 'f', 2)
                                                : QStringLiteral("\u2014");
    QString text = QStringLiteral("FWHM %1\nPeak %2%3\nSky %4")
                       .arg(fwhm)
                       .arg(star->peak)
                       .arg(star->saturated ? QStringLiteral(" saturated") : QString())
                       .arg(star->background, 0, 'f', 1);
    if (star->donut) {
        text += QStringLiteral("\nout of focus");
    }
    figures_->setText(text);
    trend_->add(star->hfd);
}

void FocusAidPanel::clearTrend() {
    trend_->clear();
}

QImage FocusAidPanel::magnified(const QImage& picture, const FocusMeasure::Star& star) const {
    // Wide enough for the whole ring of a star far out of focus.
    const int side = std::max(CropSize, 2 * int(std::ceil(0.8 * star.hfd)));
    const double zoom = double(Shown) / side;
    const QPoint middle(int(std::lround(star.centre.x())), int(std::lround(star.centre.y())));
    const QPoint corner = middle - QPoint(side / 2, side / 2);
    // Outside the picture the copy is black. From the sky to the star's peak, so its shape
    // shows whatever its brightness.
    const int black = int(std::lround(star.background));
    QImage crop =
        DisplayStretch::apply(picture.copy(QRect(corner, QSize(side, side))),
                              {black, std::max(star.peak, black + DisplayStretch::MinSpan)});
    QImage shown = crop.scaled(Shown, Shown, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                       .convertToFormat(QImage::Format_RGB32);

    // Pixel x covers [x, x + 1), so its centre is at x + 0.5 once magnified.
    const QPointF at((star.centre.x() - corner.x() + 0.5) * zoom,
                     (star.centre.y() - corner.y() + 0.5) * zoom);
    const double gap = std::max(8.0, star.hfd * zoom);
    QPainter painter(&shown);
    painter.setPen(QPen(QColor(255, 60, 60), 1));
    painter.drawLine(QPointF(0, at.y()), QPointF(at.x() - gap, at.y()));
    painter.drawLine(QPointF(at.x() + gap, at.y()), QPointF(Shown, at.y()));
    painter.drawLine(QPointF(at.x(), 0), QPointF(at.x(), at.y() - gap));
    painter.drawLine(QPointF(at.x(), at.y() + gap), QPointF(at.x(), Shown));
    return shown;
}

} // namespace lumenvale
