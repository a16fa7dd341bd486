// The ppdev camera port: open, exclusive claim, data writes, release.
#include "lines/PpdevPort.h"

#include "lines/LineMonitor.h"
#include "lines/PpdevSyscalls.h"
#include "platform/Clock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

namespace lumenvale {

namespace {

std::string OpenFailure(const std::string& device, int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        // Most machines today have no parallel port: the way on is another adapter.
        return "No parallel port was found (" + device +
               " is missing: is the parport_pc kernel module loaded?). The camera lines can be "
               "carried by a USB-serial adapter, an LXUSB box, an FTDI chip or GPIO lines "
               "instead: choose it under Settings > Source > Camera lines (in the INDI driver, "
               "the Camera lines setting of the Connection tab).";
    case EACCES:
    case EPERM:
        return "Permission denied on " + device +
               ": add yourself to the lp group (sudo usermod -aG lp $USER) and log in again.";
    case EBUSY:
        return "The parallel port " + device + " is in use by another program.";
    default:
        return "The parallel port " + device + " cannot be opened: " + std::strerror(error) + ".";
    }
}

std::string ClaimFailure(const std::string& device, int error) {
    switch (error) {
    // The kernel refuses an exclusive claim with ENXIO when another program, or the lp
    // printer driver, already holds the port.
    case ENXIO:
    case EBUSY:
        return "The parallel port " + device +
               " is in use by another program (or the lp printer driver).";
    case EACCES:
    case EPERM:
        return "Permission denied on " + device +
               ": add yourself to the lp group (sudo usermod -aG lp $USER) and log in again.";
    default:
        return "The parallel port " + device + " cannot be claimed: " + std::strerror(error) + ".";
    }
}

} // namespace

PpdevPort::PpdevPort(LineMonitor& lines, const Clock& clock, PpdevSyscalls& syscalls,
                     std::string device)
    : sys_(syscalls), lines_(lines), clock_(clock), device_(std::move(device)) {}

PpdevPort::~PpdevPort() {
    ShutdownWinIo();
}

int PpdevPort::InitializeWinIo() {
    if (fd_ >= 0) {
        lastError_.clear();
        return 1;
    }
    const int fd = sys_.open(device_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        lastError_ = OpenFailure(device_, -fd);
        return 0;
    }
    // Exclusive use must be asked for before the claim registers us on the port.
    int result = sys_.ioctl(fd, PPEXCL, nullptr);
    if (result >= 0) {
        result = sys_.ioctl(fd, PPCLAIM, nullptr);
    }
    if (result < 0) {
        lastError_ = ClaimFailure(device_, -result);
        sys_.close(fd);
        return 0;
    }
    fd_ = fd;
    lastError_.clear();
    return 1;
}

int PpdevPort::SetPortVal(std::uint32_t /*port*/, std::uint32_t value, std::uint8_t /*size*/) {
    // ppdev has one data register per device, so the port address and size (always the
    // camera port, one byte) need no translation.
    auto byte = static_cast<unsigned char>(value & 0xffU);
    int written = 0;
    if (fd_ >= 0) {
        written = sys_.ioctl(fd_, PPWDATA, &byte) >= 0 ? 1 : 0;
    }
    lines_.publish({clock_.timeGetTime(), byte, clock_.monotonicUs()});
    return written;
}

int PpdevPort::ShutdownWinIo() {
    if (fd_ < 0) {
        return 1;
    }
    const int released = sys_.ioctl(fd_, PPRELEASE, nullptr);
    const int closed = sys_.close(fd_);
    fd_ = -1;
    return released >= 0 && closed >= 0 ? 1 : 0;
}

} // namespace lumenvale
