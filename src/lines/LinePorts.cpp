// Making adapters, finding their devices, and the chosen port.
#include "lines/LinePorts.h"

#include "lines/FtdiCalls.h"
#include "lines/FtdiLines.h"
#include "lines/GpioCalls.h"
#include "lines/GpioLines.h"
#include "lines/HidCalls.h"
#include "lines/LxusbLines.h"
#include "lines/PpdevPort.h"
#include "lines/SerialLines.h"

#include <algorithm>
#include <fstream>

namespace lumenvale {

std::unique_ptr<PortIo> MakeLinePort(const LinesChoice& choice, LineMonitor& lines,
                                     const Clock& clock, LineCalls& calls) {
    switch (choice.adapter) {
    case LineAdapter::Parallel:
        break;
    case LineAdapter::Serial:
        return std::make_unique<SerialLines>(lines, clock, calls.kernel, choice.device,
                                             choice.mapping);
    case LineAdapter::Lxusb:
        return std::make_unique<LxusbLines>(lines, clock, calls.hid, choice.device, choice.mapping);
    case LineAdapter::Ftdi:
        return std::make_unique<FtdiLines>(lines, clock, calls.ftdi, choice.device, choice.mapping);
    case LineAdapter::Gpio:
        return std::make_unique<GpioLines>(lines, clock, calls.gpio, choice.device, choice.mapping);
    }
    return std::make_unique<PpdevPort>(lines, clock, calls.kernel,
                                       choice.device.empty() ? "/dev/parport0" : choice.device);
}

namespace {

// Device nodes in `dir` whose names start with one of `prefixes`, sorted.
std::vector<std::string> Nodes(const std::filesystem::path& dir,
                               std::initializer_list<const char*> prefixes) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        for (const char* prefix : prefixes) {
            if (name.rfind(prefix, 0) == 0) {
                names.push_back(name);
            }
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

bool IsHeaderChip(const std::string& label) {
    return label == "pinctrl-bcm2835" || label == "pinctrl-bcm2711" || label == "pinctrl-rp1";
}

struct GpioChip {
    std::string path;
    std::string label;
    int lines = -1; // -1: it cannot be opened
};

// The gpiochips in `devDir` by name, the header's first.
std::vector<GpioChip> FindGpioChips(GpioCalls& gpio, const std::filesystem::path& devDir) {
    std::vector<GpioChip> chips;
    for (const std::string& name : Nodes(devDir, {"gpiochip"})) {
        GpioChip& chip = chips.emplace_back(GpioChip{(devDir / name).string(), {}, -1});
        if (const int handle = gpio.open(chip.path.c_str()); handle >= 0) {
            chip.label = gpio.label(handle);
            chip.lines = gpio.lineCount(handle);
            gpio.close(handle);
        }
    }
    std::stable_partition(chips.begin(), chips.end(),
                          [](const GpioChip& chip) { return IsHeaderChip(chip.label); });
    return chips;
}

} // namespace

std::string DefaultGpioChip(GpioCalls& gpio, const std::filesystem::path& devDir) {
    const std::vector<GpioChip> chips = FindGpioChips(gpio, devDir);
    return !chips.empty() && IsHeaderChip(chips.front().label) ? chips.front().path
                                                               : (devDir / "gpiochip0").string();
}

std::vector<LineDevice> FindLineDevices(LineAdapter adapter, LineCalls& calls,
                                        const std::filesystem::path& devDir,
                                        const std::filesystem::path& sysDir) {
    std::vector<LineDevice> found;
    switch (adapter) {
    case LineAdapter::Parallel:
        for (const std::string& name : Nodes(devDir, {"parport"})) {
            found.push_back({(devDir / name).string(), (devDir / name).string()});
        }
        break;
    case LineAdapter::Serial:
        for (const std::string& name : Nodes(devDir, {"ttyUSB", "ttyACM", "ttyS"})) {
            // The kernel makes ttyS nodes for UARTs that may not be there; sysfs says which
            // it found (a port type of 0 is none).
            if (name.rfind("ttyS", 0) == 0) {
                const std::string type = ReadLine(sysDir / "class/tty" / name / "type");
                if (type.empty() || type == "0") {
                    continue;
                }
            }
            found.push_back({(devDir / name).string(), (devDir / name).string()});
        }
        break;
    case LineAdapter::Lxusb:
        for (const HidDevice& d : calls.hid.enumerate(LxusbLines::Vendor, LxusbLines::Product)) {
            std::string label = d.path + " (LXUSB";
            label += d.serial.empty() ? ")" : ", serial " + d.serial + ")";
            found.push_back({d.path, label});
        }
        break;
    case LineAdapter::Ftdi:
        for (const FtdiDevice& d : calls.ftdi.enumerate()) {
            std::string label = d.productName.empty() ? "FTDI chip" : d.productName;
            label += d.serial.empty() ? "" : ", serial " + d.serial;
            found.push_back({d.description, label});
        }
        break;
    case LineAdapter::Gpio:
        for (const GpioChip& chip : FindGpioChips(calls.gpio, devDir)) {
            std::string label = chip.path;
            if (chip.lines >= 0) {
                label += " (" + chip.label + ", " + std::to_string(chip.lines) + " lines)";
            }
            found.push_back({chip.path, label});
        }
        break;
    }
    return found;
}

ChosenPort::ChosenPort(LineMonitor& lines, const Clock& clock, LineCalls& calls, Choice choice)
    : lines_(lines), clock_(clock), calls_(calls), choice_(std::move(choice)) {}

PortIo& ChosenPort::adapter() {
    // Another choice takes effect the next time the port is opened, never while it is open.
    if (!open_) {
        LinesChoice choice = choice_();
        if (!adapter_ || !(choice == made_)) {
            adapter_.reset();
            adapter_ = MakeLinePort(choice, lines_, clock_, calls_);
            made_ = std::move(choice);
        }
    }
    return *adapter_;
}

int ChosenPort::InitializeWinIo() {
    const int result = adapter().InitializeWinIo();
    open_ = result != 0;
    return result;
}

int ChosenPort::SetPortVal(std::uint32_t port, std::uint32_t value, std::uint8_t size) {
    return adapter().SetPortVal(port, value, size);
}

int ChosenPort::ShutdownWinIo() {
    if (!adapter_) {
        return 1;
    }
    const int result = adapter_->ShutdownWinIo();
    open_ = false;
    return result;
}

std::string ChosenPort::lastError() const {
    return adapter_ ? adapter_->lastError() : std::string();
}

std::string ChosenPort::writeError() const {
    return adapter_ ? adapter_->writeError() : std::string();
}

} // namespace lumenvale
