// The camera port on Linux: the kernel's ppdev interface on /dev/parport0.
#pragma once

#include "lines/PortIo.h"

#include <string>

namespace lumenvale {

class Clock;
class LineMonitor;
class PpdevSyscalls;

// Claims the port exclusively, so a second program (or a second copy of this one) cannot
// drive the camera lines at the same time. Needs read and write access to the device, which
// members of the `lp` group have.
class PpdevPort : public PortIo {
public:
    // On the kernel's calls (or a test's), which the caller owns and keeps alive.
    PpdevPort(LineMonitor& lines, const Clock& clock, PpdevSyscalls& syscalls,
              std::string device = "/dev/parport0");
    ~PpdevPort() override;
    PpdevPort(const PpdevPort&) = delete;
    PpdevPort& operator=(const PpdevPort&) = delete;

    // Opens the device, asks for exclusive use and claims it. 1 on success (also when the port
    // is already open), 0 on failure with lastError() saying why.
    int InitializeWinIo() override;
    // Writes the low byte of `value` to the data lines when the port is open; 1 when it was
    // written. Every call is published to the line monitor, open port or not.
    int SetPortVal(std::uint32_t port, std::uint32_t value, std::uint8_t size) override;
    // Releases and closes the port. 1 on success or when it was not open, 0 when the kernel
    // refused (the descriptor is closed all the same).
    int ShutdownWinIo() override;
    std::string lastError() const override { return lastError_; }

    bool isOpen() const { return fd_ >= 0; }

private:
    PpdevSyscalls& sys_;
    LineMonitor& lines_;
    const Clock& clock_;
    std::string device_;
    int fd_ = -1;
    std::string lastError_;
};

} // namespace lumenvale
