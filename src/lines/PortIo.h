// Access to the camera lines: open the adapter, write one-byte line states, close it.
#pragma once

#include <cstdint>
#include <string>

namespace lumenvale {

class PortIo {
public:
    virtual ~PortIo() = default;

    // Non-zero on success, 0 when the port cannot be opened or claimed.
    virtual int InitializeWinIo() = 0;
    // Writes `value` to the data register. Only port 888 and size 1 are ever used. Every
    // write, open port or not, is also published to the line monitor with its tick.
    virtual int SetPortVal(std::uint32_t port, std::uint32_t value, std::uint8_t size) = 0;
    // Non-zero on success.
    virtual int ShutdownWinIo() = 0;

    // Why the last InitializeWinIo failed, in words for the user; empty after a success.
    virtual std::string lastError() const = 0;

    // Why the last write did not reach the camera, naming the adapter, for an adapter whose
    // failed write ends the run (a USB adapter pulled out); empty when it went through. The
    // parallel port's writes are not examined, so it always gives an empty text.
    virtual std::string writeError() const { return {}; }
};

} // namespace lumenvale
