// Which adapter carries the camera lines, and which of its outputs follows which data line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumenvale {

enum class LineAdapter {
    Parallel, // ppdev, the data register as it is
    Serial,   // a tty's modem lines: RTS, DTR, and TXD held in break
    Lxusb,    // the Shoestring LXUSB box, a HID device
    Ftdi,     // an FTDI chip in bit-bang mode, eight pins
    Gpio,     // lines of a Linux gpiochip
};

inline constexpr LineAdapter LineAdapters[] = {LineAdapter::Parallel, LineAdapter::Serial,
                                               LineAdapter::Lxusb, LineAdapter::Ftdi,
                                               LineAdapter::Gpio};

// "parallel", "serial", "lxusb", "ftdi", "gpio": the name kept in settings files.
const char* LineAdapterKey(LineAdapter adapter);
std::optional<LineAdapter> LineAdapterFromKey(const std::string& key);
// In words for the user: "Serial port (RTS, DTR, TXD)", ...
const char* LineAdapterTitle(LineAdapter adapter);

// One physical output of an adapter. For GPIO the name is the line's offset on its chip.
struct LineOutput {
    std::string name;
    int dataLine = -1; // 0 to 7 for D0 to D7; -1 leaves the output alone
    bool inverted = false;

    bool operator==(const LineOutput&) const = default;
};

struct LineMapping {
    std::vector<LineOutput> outputs;

    // The level of `outputs[index]` for a line-state byte, inversion applied.
    bool level(std::size_t index, std::uint8_t state) const;

    bool operator==(const LineMapping&) const = default;
};

// The wiring other programs use for the same functions: serial RTS follows D0 and DTR D2, both
// inverted (an asserted modem line is the low level at a TTL adapter); LXUSB Frame1 D0, Frame2
// D1, CCD amplifier D2, Shutter D4; FTDI pin n data line n; GPIO 17, 27, 22, 23, 24 (the
// Raspberry Pi header) for D0, D1, D2, D4, D5. The parallel port has no mapping: its data lines
// are the state's bits.
LineMapping DefaultLineMapping(LineAdapter adapter);

// "RTS=!D0 DTR=!D2 TXD=-": one output a word, "!" for inverted, "-" for none.
std::string FormatLineMapping(const LineMapping& mapping);
// The mapping in use, for a message: "the default mapping RTS=!D0 DTR=!D2 TXD=-", "the
// mapping RTS=D0 DTR=D1", and for the parallel port "data lines D0 to D7 as written".
std::string DescribeLineMapping(LineAdapter adapter, const LineMapping& mapping);
// The text of FormatLineMapping; nullopt when a word does not read as one.
std::optional<LineMapping> ParseLineMapping(const std::string& text);

// The adapter the Control window opens: its kind, the device (a path, or for FTDI libftdi's
// description string), and the mapping.
struct LinesChoice {
    LineAdapter adapter = LineAdapter::Parallel;
    std::string device = "/dev/parport0";
    LineMapping mapping;

    bool operator==(const LinesChoice&) const = default;
};

} // namespace lumenvale
