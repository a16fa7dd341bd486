// What the capture commands read and write on the Control window, held for the INDI driver:
// the exposure time and check boxes come from the driver's properties, the progress becomes
// the exposure countdown, and the finished frame is kept for the FITS file instead of shown.
#pragma once

#include "camera/ControlPanel.h"
#include "camera/FrameDisplay.h"

#include <QImage>

#include <functional>

namespace lumenvale {

class DriverPanel : public ControlPanel, public FrameDisplay {
public:
    struct Exposure {
        double seconds = 0;
        bool ampOff = false;
        bool matchFields = false; // "De interlace": brightness matching of the hi-res fields
    };

    // `countdown` is told the milliseconds still to expose as the wait advances.
    explicit DriverPanel(std::function<void(float remainingMs)> countdown);

    // One frame with these settings; forgets the last picture.
    void prepare(const Exposure& exposure);
    // The exposure time reads 0 from now on, so an exposure not yet started is read out at once.
    void cutShort() { seconds_ = QStringLiteral("0"); }
    // The frame of the last run, once processed; null when none was finished.
    const QImage& picture() const { return picture_; }

    QString Text2() const override { return seconds_; }
    QString Text3() const override { return QStringLiteral("1"); }
    void setText3(const QString&) override {}
    QString Text4() const override { return {}; }
    std::int16_t Check4() const override { return ampOff_ ? 1 : 0; }
    std::int16_t Check5() const override { return 0; }
    std::int16_t Check6() const override { return matchFields_ ? 1 : 0; }
    bool Command4Enabled() const override { return stopEnabled_; }
    void setCommand4Enabled(bool enabled) override { stopEnabled_ = enabled; }
    QWidget* hwnd() override { return nullptr; }
    void setProgressMax(float max) override { max_ = max; }
    void setProgressValue(float value) override;

    void showPicture(const QImage& picture) override { picture_ = picture; }
    QImage Picture() const override { return picture_; }

private:
    std::function<void(float)> countdown_;
    QString seconds_;
    bool ampOff_ = false;
    bool matchFields_ = false;
    bool stopEnabled_ = false;
    float max_ = 0;
    QImage picture_;
};

} // namespace lumenvale
