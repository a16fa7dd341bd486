// Watching the line writes for the exposure's start and end.
#include "indi/ExposureLines.h"

#include "camera/LineStates.h"

namespace lumenvale {

ExposureLines::ExposureLines(LineMonitor& lines) : lines_(lines) {
    subscription_ = lines_.subscribe([this](const LineWrite& write) { onWrite(write); });
}

ExposureLines::~ExposureLines() {
    lines_.unsubscribe(subscription_);
}

void ExposureLines::reset() {
    sinceSettled_ = -1;
    startUs_.reset();
    readoutUs_.reset();
    startUtc_ = {};
}

void ExposureLines::onWrite(const LineWrite& write) {
    if (write.state == LineSettled) {
        movedUs_.reset();
    }
    if (write.moved) {
        movedUs_ = write.monotonicUs;
    }
    if (sinceSettled_ == 0) {
        // The exposure state (0x30 or 0x34): the light starts to count from here, or from the
        // earlier write that already put the camera's lines where this one leaves them.
        startUs_ = movedUs_.value_or(write.monotonicUs);
        startUtc_ = QDateTime::currentDateTimeUtc().addMSecs(
            -static_cast<qint64>((write.monotonicUs - *startUs_) / 1000));
        readoutUs_.reset();
        sinceSettled_ = 1;
    } else if (sinceSettled_ == 1 && !readoutUs_ &&
               (write.state == LineReadout || write.state == LineReadoutField1)) {
        readoutUs_ = write.monotonicUs;
    }
    if (previous_ == LineSettled && write.state == LineExposeAmpOn && sinceSettled_ != 0) {
        sinceSettled_ = 0;
    }
    previous_ = write.state;
}

std::optional<double> ExposureLines::seconds() const {
    if (!startUs_ || !readoutUs_) {
        return std::nullopt;
    }
    return double(*readoutUs_ - *startUs_) / 1e6;
}

} // namespace lumenvale
