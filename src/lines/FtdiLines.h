// The camera lines on an FTDI chip in bit-bang mode (FT232R, FT245R, FT2232 and their kin):
// all eight pins outputs, pin n following the data line the mapping gives it, by default Dn.
#pragma once

#include "lines/AdapterPort.h"
#include "lines/LineMapping.h"

namespace lumenvale {

class FtdiCalls;

class FtdiLines : public AdapterPort {
public:
    // libftdi's bit-bang mode number.
    static constexpr unsigned char BitbangMode = 0x01;

    // `device` is libftdi's description string ("s:0x0403:0x6001:SERIAL"); `mapping` lists
    // the pins in order, pin 0 first.
    FtdiLines(LineMonitor& lines, const Clock& clock, FtdiCalls& calls, std::string device,
              LineMapping mapping);
    ~FtdiLines() override;

    std::uint8_t pins(std::uint8_t state) const;

protected:
    std::string openDevice() override;
    int applyState(std::uint8_t state, std::optional<std::uint8_t> shown) override;
    bool closeDevice() override;
    bool present() override;

private:
    FtdiCalls& calls_;
    std::string device_;
    LineMapping mapping_;
    int handle_ = -1;
};

} // namespace lumenvale
