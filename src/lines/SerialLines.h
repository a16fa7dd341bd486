// The camera lines on a serial port's modem lines: RTS and DTR, and TXD held in break as a
// third output. Any tty with modem lines will do: a USB-serial adapter, a CDC-ACM device, a
// built-in UART.
#pragma once

#include "lines/AdapterPort.h"
#include "lines/LineMapping.h"
#include "lines/PpdevSyscalls.h"

namespace lumenvale {

// A tty is reached through the same three kernel calls as the parallel port.
using TtyCalls = PpdevSyscalls;

class SerialLines : public AdapterPort {
public:
    // `mapping` names RTS, DTR and TXD in any order; other names are left alone.
    SerialLines(LineMonitor& lines, const Clock& clock, TtyCalls& calls, std::string device,
                LineMapping mapping);
    ~SerialLines() override;

protected:
    std::string openDevice() override;
    // RTS and DTR through TIOCMBIS and TIOCMBIC (never TIOCMSET, which would touch the other
    // modem lines), TXD through TIOCSBRK and TIOCCBRK when it follows a data line.
    int applyState(std::uint8_t state, std::optional<std::uint8_t> shown) override;
    bool closeDevice() override;
    bool present() override;

private:
    TtyCalls& calls_;
    std::string device_;
    LineMapping mapping_;
    int fd_ = -1;
};

} // namespace lumenvale
