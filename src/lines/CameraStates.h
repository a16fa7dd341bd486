// Every line state the program writes to the camera, with a name for each: the capture logic
// writes them, the line test steps through them.
#pragma once

#include <array>
#include <cstdint>

namespace lumenvale {

// Data register of the first parallel port, the address every write names.
inline constexpr std::uint32_t CameraPort = 888; // 0x378

// Bits are the data lines D0 (1) to D7 (128); D3, D6 and D7 are low in every state.
inline constexpr std::uint8_t LineIdle = 0x00;          // after port access is opened
inline constexpr std::uint8_t LinePulseStart = 0x27;    // first half of the frame-start pulse
inline constexpr std::uint8_t LineReadout = 0x37;       // pulse end; readout (binned, 2nd field)
inline constexpr std::uint8_t LineSettled = 0x14;       // first state after the settle wait
inline constexpr std::uint8_t LineExposeAmpOn = 0x34;   // after the settle; exposure, amp on
inline constexpr std::uint8_t LineExposeAmpOff = 0x30;  // exposure with the amplifier off
inline constexpr std::uint8_t LineReadoutField1 = 0x35; // readout of the first hi-res field

struct NamedLineState {
    std::uint8_t state;
    const char* name;
};

// In the order a frame goes through them, for the line test.
inline constexpr std::array<NamedLineState, 7> CameraStateNames{{
    {LineIdle, "idle"},
    {LinePulseStart, "frame start, first half"},
    {LineReadout, "frame start, second half; readout of a binned frame or second field"},
    {LineSettled, "after the settle wait"},
    {LineExposeAmpOn, "exposure, amplifier on"},
    {LineExposeAmpOff, "exposure, amplifier off"},
    {LineReadoutField1, "readout of the first hi-res field"},
}};

} // namespace lumenvale
