// The camera lines on GPIO lines of a Linux gpiochip (the Raspberry Pi header, a USB GPIO
// board): one output line per data line in use, named in the mapping by its offset.
#pragma once

#include "lines/AdapterPort.h"
#include "lines/LineMapping.h"

#include <vector>

namespace lumenvale {

class GpioCalls;

class GpioLines : public AdapterPort {
public:
    GpioLines(LineMonitor& lines, const Clock& clock, GpioCalls& calls, std::string chip,
              const LineMapping& mapping);
    ~GpioLines() override;

    // The levels of the requested lines for a state, in the order of the mapping.
    std::vector<int> levels(std::uint8_t state) const;

protected:
    std::string openDevice() override;
    int applyState(std::uint8_t state, std::optional<std::uint8_t> shown) override;
    bool closeDevice() override;

private:
    GpioCalls& calls_;
    std::string chip_;
    LineMapping used_; // the outputs that follow a data line
    int handle_ = -1;
};

} // namespace lumenvale
