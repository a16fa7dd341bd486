// Stand-ins for the calls behind the camera-line adapters: a tty, an LXUSB box, an FTDI chip and
// a gpiochip. Each keeps the level of its outputs as one number, and a history of it stamped on
// its own clock when a write takes effect; each can refuse a call with an errno, be unplugged
// after a number of writes, and take a while per write as a USB round trip does.
#pragma once

#include "lines/FtdiCalls.h"
#include "lines/GpioCalls.h"
#include "lines/HidCalls.h"
#include "lines/LineMapping.h"
#include "lines/LinePorts.h"
#include "lines/PpdevSyscalls.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace lumenvale::test {

// What every fake device shares.
struct FakeLineDevice {
    struct Change {
        std::int64_t us = 0; // steady clock microseconds, when the write took effect
        unsigned outputs = 0;
    };

    // A call named here ("open", "write", "ioctl", "request", ...) fails with this errno.
    std::map<std::string, int> failures;
    // Writes after this many fail with unplugError, as when the adapter is pulled out; -1
    // never. Once pulled out the device is gone from the bus.
    int writesBeforeUnplug = -1;
    int unplugError = ENODEV; // libftdi 1.5 gives -1 for any failure, which reads EIO
    bool unplugged() const { return writesBeforeUnplug >= 0 && writes_ >= writesBeforeUnplug; }
    // Each write takes this long (the fake blocks).
    std::chrono::microseconds writeTime{0};

    unsigned outputs = 0;
    std::vector<Change> history; // one entry per write that took effect
    int requests = 0;            // writes asked of the device, whether or not they took effect
    std::vector<std::string> calls;

protected:
    // 0, or minus the errno the call is to fail with.
    int failure(const std::string& call) const;
    // Counts a write, waits out writeTime; minus ENODEV once unplugged.
    int beginWrite();
    void changed();

private:
    int writes_ = 0;
};

// A tty: outputs bit 0 RTS, bit 1 DTR, bit 2 TXD in break. TIOCMGET answers unless failed.
class FakeTty : public PpdevSyscalls, public FakeLineDevice {
public:
    static constexpr unsigned Rts = 1, Dtr = 2, Break = 4;
    // Opening raises RTS and DTR, as many USB-serial adapters do.
    int open(const char* path, int flags) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    int close(int fd) override;
    bool exists(const char* path) override;
};

// An LXUSB box at /dev/hidraw3 (or `path`): outputs is the last report byte.
class FakeHid : public HidCalls, public FakeLineDevice {
public:
    std::string path = "/dev/hidraw3";
    std::uint16_t vendor = 0x134A;
    std::uint16_t product = 0x9022;

    std::vector<HidDevice> enumerate(std::uint16_t vendor, std::uint16_t product) override;
    int open(const char* path) override;
    int write(int handle, const unsigned char* data, std::size_t length) override;
    int close(int handle) override;
};

// An FT232R: outputs is the pins byte; bitmode is what setBitmode was given.
class FakeFtdi : public FtdiCalls, public FakeLineDevice {
public:
    unsigned bitmodeMask = 0;
    unsigned bitmode = 0;

    std::vector<FtdiDevice> enumerate() override;
    int open(const char* description) override;
    int setBitmode(int handle, unsigned char outputMask, unsigned char mode) override;
    int write(int handle, unsigned char pins) override;
    int close(int handle) override;
    bool present(int handle) override;
};

// A 28-line gpiochip: outputs has bit n set when line n is high. `holders` says who holds a
// line already. A request naming a line twice is refused with EBUSY, as the kernel does.
// Every path opens; `labels` gives a chip's label by its path, else "pinctrl-bcm2711".
class FakeGpio : public GpioCalls, public FakeLineDevice {
public:
    int lines = 28;
    std::map<unsigned, std::string> holders;
    std::vector<unsigned> requested;
    std::map<std::string, std::string> labels;

    int open(const char* chipPath) override;
    std::string label(int chip) override;
    int lineCount(int chip) override;
    std::string holder(int chip, unsigned offset) override;
    int requestOutputs(int chip, const std::vector<unsigned>& offsets,
                       const std::vector<int>& values) override;
    int setValues(int chip, const std::vector<int>& values) override;
    int close(int chip) override;

private:
    void set(const std::vector<int>& values);

    std::vector<std::string> opened_; // the path of each handle
};

// One fake device of each kind, and the calls that reach them.
struct FakeLineDevices {
    FakeTty tty;
    FakeHid hid;
    FakeFtdi ftdi;
    FakeGpio gpio;
    LineCalls calls{tty, hid, ftdi, gpio};

    // The fake device an adapter of this kind drives (the tty for the parallel port).
    FakeLineDevice& device(LineAdapter adapter);
    // The device each kind is opened at: /dev/ttyUSB0, /dev/hidraw3, the FT232R's description
    // string, /dev/gpiochip0.
    static std::string path(LineAdapter adapter);
    // The adapter's outputs after one write of `state`, its default mapping, on fresh fakes.
    static unsigned outputsFor(LineAdapter adapter, std::uint8_t state);
};

} // namespace lumenvale::test
