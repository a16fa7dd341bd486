// The camera lines on a Shoestring LXUSB box: a HID device whose one-byte output report
// carries Frame1, Frame2, Shutter and the CCD amplifier, and a two-colour LED.
#pragma once

#include "lines/AdapterPort.h"
#include "lines/LineMapping.h"

#include <cstdint>

namespace lumenvale {

class HidCalls;

class LxusbLines : public AdapterPort {
public:
    static constexpr std::uint16_t Vendor = 0x134A;
    static constexpr std::uint16_t Product = 0x9022;
    // Bits of the output report.
    static constexpr std::uint8_t Frame1Bit = 0x01;
    static constexpr std::uint8_t Frame2Bit = 0x02;
    static constexpr std::uint8_t ShutterBit = 0x04;
    static constexpr std::uint8_t AmplifierBit = 0x08;
    static constexpr std::uint8_t LedRedBit = 0x10;
    static constexpr std::uint8_t LedOnBit = 0x20;

    // `device` is the box's hidraw node; `mapping` names Frame1, Frame2, Shutter, Amplifier.
    LxusbLines(LineMonitor& lines, const Clock& clock, HidCalls& calls, std::string device,
               LineMapping mapping);
    ~LxusbLines() override;

    // The report for a line state: the mapped bits, the LED lit, red during an exposure.
    std::uint8_t report(std::uint8_t state) const;

protected:
    std::string openDevice() override;
    int applyState(std::uint8_t state, std::optional<std::uint8_t> shown) override;
    // Puts the LED out; the camera bits keep their state.
    bool closeDevice() override;
    bool present() override;

private:
    int send(std::uint8_t report);

    HidCalls& calls_;
    std::string device_;
    LineMapping mapping_;
    int handle_ = -1;
    std::uint8_t last_ = 0;
};

} // namespace lumenvale
