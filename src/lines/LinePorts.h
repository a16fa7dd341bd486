// The camera-line adapters made from a choice, the devices each kind finds, and the port the
// Control window opens: whichever adapter is chosen when it opens.
#pragma once

#include "lines/LineMapping.h"
#include "lines/PortIo.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumenvale {

class Clock;
class FtdiCalls;
class GpioCalls;
class HidCalls;
class LineMonitor;
class PpdevSyscalls;

// The calls behind every adapter; the caller owns them. A tty uses the kernel calls of the
// parallel port.
struct LineCalls {
    PpdevSyscalls& kernel;
    HidCalls& hid;
    FtdiCalls& ftdi;
    GpioCalls& gpio;
};

std::unique_ptr<PortIo> MakeLinePort(const LinesChoice& choice, LineMonitor& lines,
                                     const Clock& clock, LineCalls& calls);

struct LineDevice {
    std::string device; // what LinesChoice::device takes
    std::string label;  // for the user: "/dev/ttyUSB0", "gpiochip0 (pinctrl-bcm2711)", ...
};

// The devices of one kind found now: /dev/parport*; ttys with modem lines (USB, ACM, and the
// UARTs the kernel found hardware for, told by sysfs without opening them, since opening a
// tty moves its lines); LXUSB boxes; FTDI chips with their serial numbers; gpiochips with
// their labels, DefaultGpioChip's first. `devDir` and `sysDir` stand for /dev and /sys in tests.
std::vector<LineDevice> FindLineDevices(LineAdapter adapter, LineCalls& calls,
                                        const std::filesystem::path& devDir = "/dev",
                                        const std::filesystem::path& sysDir = "/sys");

// The gpiochip of the Raspberry Pi's 40-pin header, found by its label (pinctrl-bcm2835 up to
// the Pi 3, pinctrl-bcm2711 on the Pi 4, pinctrl-rp1 on the Pi 5) since its number changed
// between kernels (gpiochip4, then gpiochip0 on the Pi 5); gpiochip0 when there is none.
std::string DefaultGpioChip(GpioCalls& gpio, const std::filesystem::path& devDir = "/dev");

// The port the capture logic writes to: when it is opened, the adapter chosen at that moment
// is made (again, if the choice changed since), and everything goes to it.
class ChosenPort : public PortIo {
public:
    using Choice = std::function<LinesChoice()>;

    ChosenPort(LineMonitor& lines, const Clock& clock, LineCalls& calls, Choice choice);

    int InitializeWinIo() override;
    int SetPortVal(std::uint32_t port, std::uint32_t value, std::uint8_t size) override;
    int ShutdownWinIo() override;
    std::string lastError() const override;
    std::string writeError() const override;

private:
    PortIo& adapter();

    LineMonitor& lines_;
    const Clock& clock_;
    LineCalls& calls_;
    Choice choice_;
    LinesChoice made_;
    std::unique_ptr<PortIo> adapter_;
    bool open_ = false;
};

} // namespace lumenvale
