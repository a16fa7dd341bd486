// The camera port on Linux: the kernel's ppdev interface on /dev/parport0.
#pragma once

#include "platform/PortIo.h"

#include <string>

namespace lumenvale {

class Clock;
class LineMonitor;

class PpdevPort : public PortIo {
public:
    PpdevPort(LineMonitor& lines, const Clock& clock, std::string device = "/dev/parport0");

    int InitializeWinIo() override;
    int SetPortVal(std::uint32_t port, std::uint32_t value, std::uint8_t size) override;
    int ShutdownWinIo() override;
    std::string lastError() const override { return lastError_; }

private:
    LineMonitor& lines_;
    const Clock& clock_;
    std::string device_;
    int fd_ = -1;
    std::string lastError_;
};

} // namespace lumenvale
