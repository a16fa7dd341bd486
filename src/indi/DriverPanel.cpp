// The driver's stand-in for the Control window.
#include "indi/DriverPanel.h"

namespace lumenvale {

DriverPanel::DriverPanel(std::function<void(float remainingMs)> countdown)
    : countdown_(std::move(countdown)) {}

void DriverPanel::prepare(const Exposure& exposure) {
    // Every digit is kept: the commands round the text to milliseconds as they round a typed time.
    seconds_ = QString::number(exposure.seconds, 'g', 17);
    ampOff_ = exposure.ampOff;
    matchFields_ = exposure.matchFields;
    picture_ = QImage();
}

void DriverPanel::setProgressValue(float value) {
    // The commands reset the bar to 0 before and after the wait; only the wait counts down.
    if (value > 0 && countdown_) {
        countdown_(max_ - value);
    }
}

} // namespace lumenvale
