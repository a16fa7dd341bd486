// What the adapters other than the parallel port share: the current line state, set on the
// outputs right after opening; every write published to the line monitor once the call has
// returned, so the tick is when the camera got it; a failed write remembered for the run.
#pragma once

#include "lines/PortIo.h"

#include <cstdint>
#include <optional>
#include <string>

namespace lumenvale {

class Clock;
class LineMonitor;

class AdapterPort : public PortIo {
public:
    AdapterPort(LineMonitor& lines, const Clock& clock, std::string what);
    AdapterPort(const AdapterPort&) = delete;
    AdapterPort& operator=(const AdapterPort&) = delete;

    // Opens the device and sets every output from the current state. 1 on success (also when
    // already open), 0 with lastError() saying why.
    int InitializeWinIo() override;
    // 1 when the outputs took the state. A write while the adapter is not open, or one the
    // device refuses, gives 0 and a writeError(). Published to the line monitor in any case.
    int SetPortVal(std::uint32_t port, std::uint32_t value, std::uint8_t size) override;
    // 1 on success or when not open.
    int ShutdownWinIo() override;
    std::string lastError() const override { return lastError_; }
    std::string writeError() const override { return writeError_; }

    bool isOpen() const { return open_; }
    // "the serial port /dev/ttyUSB0", for messages.
    const std::string& what() const { return what_; }

protected:
    // Empty on success, else the reason in words for the user; leaves nothing open on failure.
    virtual std::string openDevice() = 0;
    // Sets the outputs for `state`: the number of requests sent (0 when the outputs already
    // showed it), or minus an errno value. `shown` is the state the
    // outputs are known to show: only the outputs that differ between the two are sent, since
    // each request is a USB round trip the camera's timing pays for. Without it (just opened,
    // or after a failed write, when the device may show anything) every output is sent.
    virtual int applyState(std::uint8_t state, std::optional<std::uint8_t> shown) = 0;
    // True when the device closed cleanly.
    virtual bool closeDevice() = 0;
    // False when the device is gone from the bus; asked after a failed write, since a USB
    // library may give any error code for an adapter pulled out.
    virtual bool present() { return true; }

    // The last state written (0 before any write): what the outputs show once open.
    std::uint8_t state() const { return state_; }
    // Calls closeDevice() when open; derived destructors call it, since it is virtual.
    void closeIfOpen();

private:
    LineMonitor& lines_;
    const Clock& clock_;
    std::string what_;
    bool open_ = false;
    std::uint8_t state_ = 0;
    std::optional<std::uint8_t> shown_;
    std::string lastError_;
    std::string writeError_;
};

// The reason for an errno value met when opening `what`: a missing device, a permission the
// user gets through `access` ("join the dialout group ..."), a device in use, or the
// system's own words.
std::string OpenFailureText(const std::string& what, int error, const std::string& access);

} // namespace lumenvale
