// The FTDI chip in bit-bang mode.
#include "lines/FtdiLines.h"

#include "lines/FtdiCalls.h"

#include <cstring>

namespace lumenvale {

FtdiLines::FtdiLines(LineMonitor& lines, const Clock& clock, FtdiCalls& calls, std::string device,
                     LineMapping mapping)
    : AdapterPort(lines, clock, "the FTDI chip " + device), calls_(calls),
      device_(std::move(device)), mapping_(std::move(mapping)) {}

FtdiLines::~FtdiLines() {
    closeIfOpen();
}

std::uint8_t FtdiLines::pins(std::uint8_t state) const {
    std::uint8_t bits = 0;
    for (std::size_t i = 0; i < mapping_.outputs.size() && i < 8; ++i) {
        if (mapping_.level(i, state)) {
            bits = static_cast<std::uint8_t>(bits | (1U << i));
        }
    }
    return bits;
}

std::string FtdiLines::openDevice() {
    const int handle = calls_.open(device_.c_str());
    if (handle < 0) {
        return OpenFailureText(
            what(), -handle,
            "the udev rule the lumenvale package installs "
            "(/usr/lib/udev/rules.d/60-lumenvale.rules) gives the logged-in user "
            "FTDI chips; unplug it and plug it in again.");
    }
    const int result = calls_.setBitmode(handle, 0xff, BitbangMode);
    if (result < 0) {
        calls_.close(handle);
        return "The FTDI chip " + device_ + " refused bit-bang mode: " + std::strerror(-result) +
               ".";
    }
    handle_ = handle;
    return {};
}

int FtdiLines::applyState(std::uint8_t state, std::optional<std::uint8_t> shown) {
    if (shown && pins(*shown) == pins(state)) {
        return 0;
    }
    const int result = calls_.write(handle_, pins(state));
    return result < 0 ? result : 1;
}

bool FtdiLines::closeDevice() {
    // The chip stays in bit-bang mode with its pins as they are until it is unplugged.
    const int result = calls_.close(handle_);
    handle_ = -1;
    return result >= 0;
}

bool FtdiLines::present() {
    return calls_.present(handle_);
}

} // namespace lumenvale
