// The fake camera-line devices.
#include "support/FakeLineCalls.h"

#include "lines/CameraStates.h"
#include "lines/LineMonitor.h"
#include "platform/Clock.h"

#include <cerrno>
#include <set>
#include <sys/ioctl.h>
#include <thread>

namespace lumenvale::test {

namespace {

std::int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int FakeLineDevice::failure(const std::string& call) const {
    const auto it = failures.find(call);
    return it == failures.end() ? 0 : -it->second;
}

int FakeLineDevice::beginWrite() {
    ++requests;
    if (writeTime.count() > 0) {
        std::this_thread::sleep_for(writeTime);
    }
    if (unplugged()) {
        return -unplugError;
    }
    ++writes_;
    return 0;
}

void FakeLineDevice::changed() {
    history.push_back({NowUs(), outputs});
}

int FakeTty::open(const char* path, int /*flags*/) {
    calls.push_back(std::string("open ") + path);
    if (const int error = failure("open")) {
        return error;
    }
    outputs |= Rts | Dtr;
    return 5;
}

int FakeTty::ioctl(int /*fd*/, unsigned long request, void* argument) {
    switch (request) {
    case TIOCMGET:
        calls.emplace_back("TIOCMGET");
        if (const int error = failure("TIOCMGET")) {
            return error;
        }
        *static_cast<int*>(argument) = static_cast<int>(outputs);
        return 0;
    case TIOCMBIS:
    case TIOCMBIC: {
        const unsigned bits = static_cast<unsigned>(*static_cast<int*>(argument));
        const unsigned lines =
            ((bits & TIOCM_RTS) != 0 ? Rts : 0) | ((bits & TIOCM_DTR) != 0 ? Dtr : 0);
        calls.emplace_back(request == TIOCMBIS ? "TIOCMBIS" : "TIOCMBIC");
        if (const int error = beginWrite()) {
            return error;
        }
        outputs = request == TIOCMBIS ? (outputs | lines) : (outputs & ~lines);
        changed();
        return 0;
    }
    case TIOCSBRK:
    case TIOCCBRK:
        calls.emplace_back(request == TIOCSBRK ? "TIOCSBRK" : "TIOCCBRK");
        if (const int error = beginWrite()) {
            return error;
        }
        outputs = request == TIOCSBRK ? (outputs | Break) : (outputs & ~Break);
        changed();
        return 0;
    default:
        return 0; // termios and the like
    }
}

int FakeTty::close(int /*fd*/) {
    calls.emplace_back("close");
    return 0;
}

bool FakeTty::exists(const char* /*path*/) {
    return !unplugged();
}

std::vector<HidDevice> FakeHid::enumerate(std::uint16_t v, std::uint16_t p) {
    if (unplugged() || (v != 0 && v != vendor) || (p != 0 && p != product)) {
        return {};
    }
    return {{path, vendor, product, "LX0001", "LXUSB"}};
}

int FakeHid::open(const char* p) {
    calls.push_back(std::string("open ") + p);
    if (const int error = failure("open")) {
        return error;
    }
    return path == p ? 0 : -ENOENT;
}

int FakeHid::write(int /*handle*/, const unsigned char* data, std::size_t length) {
    if (const int error = beginWrite()) {
        return error;
    }
    if (length == 2 && data[0] == 0) {
        outputs = data[1];
        changed();
    }
    return static_cast<int>(length);
}

int FakeHid::close(int /*handle*/) {
    calls.emplace_back("close");
    return 0;
}

std::vector<FtdiDevice> FakeFtdi::enumerate() {
    return {{"s:0x0403:0x6001:A50285BI", "FT232R USB UART", "A50285BI"}};
}

int FakeFtdi::open(const char* description) {
    calls.push_back(std::string("open ") + description);
    return failure("open");
}

int FakeFtdi::setBitmode(int /*handle*/, unsigned char outputMask, unsigned char mode) {
    calls.emplace_back("bitmode");
    if (const int error = failure("bitmode")) {
        return error;
    }
    bitmodeMask = outputMask;
    bitmode = mode;
    return 0;
}

int FakeFtdi::write(int /*handle*/, unsigned char pins) {
    if (const int error = beginWrite()) {
        return error;
    }
    outputs = pins;
    changed();
    return 0;
}

int FakeFtdi::close(int /*handle*/) {
    calls.emplace_back("close");
    return 0;
}

bool FakeFtdi::present(int /*handle*/) {
    return !unplugged();
}

int FakeGpio::open(const char* chipPath) {
    calls.push_back(std::string("open ") + chipPath);
    if (const int error = failure("open")) {
        return error;
    }
    opened_.emplace_back(chipPath);
    return static_cast<int>(opened_.size() - 1);
}

std::string FakeGpio::label(int chip) {
    const auto it = labels.find(opened_.at(static_cast<std::size_t>(chip)));
    return it == labels.end() ? "pinctrl-bcm2711" : it->second;
}

int FakeGpio::lineCount(int /*chip*/) {
    return lines;
}

std::string FakeGpio::holder(int /*chip*/, unsigned offset) {
    const auto it = holders.find(offset);
    return it == holders.end() ? std::string() : it->second;
}

int FakeGpio::requestOutputs(int /*chip*/, const std::vector<unsigned>& offsets,
                             const std::vector<int>& values) {
    calls.emplace_back("request");
    if (const int error = failure("request")) {
        return error;
    }
    if (std::set<unsigned>(offsets.begin(), offsets.end()).size() != offsets.size()) {
        return -EBUSY; // the kernel takes a line once
    }
    requested = offsets;
    set(values);
    return 0;
}

int FakeGpio::setValues(int /*chip*/, const std::vector<int>& values) {
    if (const int error = beginWrite()) {
        return error;
    }
    set(values);
    return 0;
}

void FakeGpio::set(const std::vector<int>& values) {
    for (std::size_t i = 0; i < requested.size() && i < values.size(); ++i) {
        const unsigned bit = 1U << requested[i];
        outputs = values[i] != 0 ? (outputs | bit) : (outputs & ~bit);
    }
    changed();
}

int FakeGpio::close(int /*chip*/) {
    calls.emplace_back("close");
    requested.clear();
    return 0;
}

FakeLineDevice& FakeLineDevices::device(LineAdapter adapter) {
    switch (adapter) {
    case LineAdapter::Lxusb:
        return hid;
    case LineAdapter::Ftdi:
        return ftdi;
    case LineAdapter::Gpio:
        return gpio;
    default:
        return tty;
    }
}

std::string FakeLineDevices::path(LineAdapter adapter) {
    switch (adapter) {
    case LineAdapter::Lxusb:
        return "/dev/hidraw3";
    case LineAdapter::Ftdi:
        return "s:0x0403:0x6001:A50285BI";
    case LineAdapter::Gpio:
        return "/dev/gpiochip0";
    default:
        return "/dev/ttyUSB0";
    }
}

unsigned FakeLineDevices::outputsFor(LineAdapter adapter, std::uint8_t state) {
    FakeLineDevices fresh;
    SystemClock clock;
    LineMonitor monitor;
    auto port = MakeLinePort({adapter, path(adapter), DefaultLineMapping(adapter)}, monitor, clock,
                             fresh.calls);
    port->InitializeWinIo();
    port->SetPortVal(CameraPort, state, 1);
    return fresh.device(adapter).outputs;
}

} // namespace lumenvale::test
