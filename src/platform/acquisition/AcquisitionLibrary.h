// The acquisition library: acquisition dialog, V4L2 webcams, the simulated camera, the chooser.
#pragma once

#include "platform/Acquisition.h"

namespace lumenvale {

class Clock;
class LineMonitor;

class AcquisitionLibrary : public Acquisition {
public:
    AcquisitionLibrary(LineMonitor& lines, const Clock& clock);
    ~AcquisitionLibrary() override;

    std::int32_t TWAIN_AcquireToFilename(QWidget* parent, const std::string& fileName) override;
    std::int32_t TWAIN_SelectImageSource(QWidget* parent) override;

private:
    LineMonitor& lines_;
    const Clock& clock_;
};

} // namespace lumenvale
