// The camera port and every line state the program writes to it.
#pragma once

#include <cstdint>

namespace lumenvale {

// Data register of the first parallel port.
inline constexpr std::uint32_t CameraPort = 888; // 0x378

// Bits are the data lines D0 (1) to D7 (128); D3, D6 and D7 are low in every state.
inline constexpr std::uint8_t LineIdle = 0x00;          // after port access is opened
inline constexpr std::uint8_t LinePulseStart = 0x27;    // first half of the frame-start pulse
inline constexpr std::uint8_t LineReadout = 0x37;       // pulse end; readout (binned, 2nd field)
inline constexpr std::uint8_t LineSettled = 0x14;       // first state after the settle wait
inline constexpr std::uint8_t LineExposeAmpOn = 0x34;   // after the settle; exposure, amp on
inline constexpr std::uint8_t LineExposeAmpOff = 0x30;  // exposure with the amplifier off
inline constexpr std::uint8_t LineReadoutField1 = 0x35; // readout of the first hi-res field

// Settle wait between the frame-start pulse and the exposure.
inline constexpr std::int32_t SettleMs = 100;

// Acquisition timer intervals.
inline constexpr unsigned BinnedTimerMs = 1;
inline constexpr unsigned HiresTimerMs = 50;

} // namespace lumenvale
