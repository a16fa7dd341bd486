// The LXUSB box.
#include "lines/LxusbLines.h"

#include "lines/CameraStates.h"
#include "lines/HidCalls.h"

#include <algorithm>
#include <cerrno>

namespace lumenvale {

LxusbLines::LxusbLines(LineMonitor& lines, const Clock& clock, HidCalls& calls, std::string device,
                       LineMapping mapping)
    : AdapterPort(lines, clock, "the LXUSB box " + device), calls_(calls),
      device_(std::move(device)), mapping_(std::move(mapping)) {}

LxusbLines::~LxusbLines() {
    closeIfOpen();
}

std::uint8_t LxusbLines::report(std::uint8_t state) const {
    std::uint8_t bits = LedOnBit;
    if (state == LineExposeAmpOn || state == LineExposeAmpOff) {
        bits |= LedRedBit;
    }
    for (std::size_t i = 0; i < mapping_.outputs.size(); ++i) {
        const LineOutput& out = mapping_.outputs[i];
        if (out.dataLine < 0 || !mapping_.level(i, state)) {
            continue;
        }
        if (out.name == "Frame1") {
            bits |= Frame1Bit;
        } else if (out.name == "Frame2") {
            bits |= Frame2Bit;
        } else if (out.name == "Shutter") {
            bits |= ShutterBit;
        } else if (out.name == "Amplifier") {
            bits |= AmplifierBit;
        }
    }
    return bits;
}

std::string LxusbLines::openDevice() {
    const int handle = calls_.open(device_.c_str());
    if (handle < 0) {
        return OpenFailureText(
            what(), -handle,
            "the udev rule the lumenvale package installs "
            "(/usr/lib/udev/rules.d/60-lumenvale.rules) gives the logged-in user "
            "the box; unplug it and plug it in again.");
    }
    const auto devices = calls_.enumerate(Vendor, Product);
    const bool isLxusb = std::any_of(devices.begin(), devices.end(),
                                     [&](const HidDevice& d) { return d.path == device_; });
    if (!isLxusb) {
        calls_.close(handle);
        return device_ + " is not an LXUSB box (USB 134a:9022): choose the hidraw device the "
                         "box was found at.";
    }
    handle_ = handle;
    return {};
}

int LxusbLines::send(std::uint8_t report) {
    const unsigned char data[2] = {0, report};
    const int result = calls_.write(handle_, data, sizeof data);
    if (result < 0) {
        return result;
    }
    last_ = report;
    return result == static_cast<int>(sizeof data) ? 0 : -EIO;
}

int LxusbLines::applyState(std::uint8_t state, std::optional<std::uint8_t> shown) {
    if (shown && report(*shown) == report(state)) {
        return 0;
    }
    const int result = send(report(state));
    return result < 0 ? result : 1;
}

bool LxusbLines::closeDevice() {
    const int sent = send(static_cast<std::uint8_t>(last_ & ~(LedOnBit | LedRedBit)));
    const int closed = calls_.close(handle_);
    handle_ = -1;
    return sent >= 0 && closed >= 0;
}

bool LxusbLines::present() {
    const auto devices = calls_.enumerate(Vendor, Product);
    return std::any_of(devices.begin(), devices.end(),
                       [&](const HidDevice& d) { return d.path == device_; });
}

} // namespace lumenvale
