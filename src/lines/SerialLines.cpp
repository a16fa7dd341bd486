// The serial port's modem lines.
#include "lines/SerialLines.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace lumenvale {

SerialLines::SerialLines(LineMonitor& lines, const Clock& clock, TtyCalls& calls,
                         std::string device, LineMapping mapping)
    : AdapterPort(lines, clock, "the serial port " + device), calls_(calls),
      device_(std::move(device)), mapping_(std::move(mapping)) {}

SerialLines::~SerialLines() {
    closeIfOpen();
}

std::string SerialLines::openDevice() {
    // Without O_NONBLOCK the open waits for carrier on some ports; without O_NOCTTY a tty could
    // become the program's controlling terminal.
    const int fd = calls_.open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return OpenFailureText(what(), -fd,
                               "join the dialout group (sudo usermod -aG dialout $USER) and "
                               "log in again.");
    }
    int bits = 0;
    const int result = calls_.ioctl(fd, TIOCMGET, &bits);
    if (result < 0) {
        calls_.close(fd);
        if (-result == ENOTTY || -result == EINVAL) {
            return device_ + " has no modem lines (a pseudo-terminal, or not a serial port): "
                             "choose the tty of the adapter the camera is wired to.";
        }
        return "The modem lines of " + device_ + " cannot be read: " + std::strerror(-result) + ".";
    }
    // Closing would drop RTS and DTR on a port that hangs up on close; the lines keep their
    // state when the Control window closes, as the parallel port's do. Best effort: a port
    // that cannot say leaves the flag as it is.
    termios settings{};
    if (calls_.ioctl(fd, TCGETS, &settings) >= 0 && (settings.c_cflag & HUPCL) != 0) {
        settings.c_cflag &= ~tcflag_t{HUPCL};
        calls_.ioctl(fd, TCSETS, &settings);
    }
    fd_ = fd;
    return {};
}

int SerialLines::applyState(std::uint8_t state, std::optional<std::uint8_t> shown) {
    int set = 0;
    int clear = 0;
    int breakRequest = 0;
    for (std::size_t i = 0; i < mapping_.outputs.size(); ++i) {
        const LineOutput& out = mapping_.outputs[i];
        if (out.dataLine < 0) {
            continue;
        }
        const bool on = mapping_.level(i, state);
        if (shown && mapping_.level(i, *shown) == on) {
            continue;
        }
        if (out.name == "RTS") {
            (on ? set : clear) |= TIOCM_RTS;
        } else if (out.name == "DTR") {
            (on ? set : clear) |= TIOCM_DTR;
        } else if (out.name == "TXD") {
            breakRequest = on ? TIOCSBRK : TIOCCBRK;
        }
    }
    int result = 0;
    int sent = 0;
    if (set != 0) {
        result = calls_.ioctl(fd_, TIOCMBIS, &set);
        ++sent;
    }
    if (result >= 0 && clear != 0) {
        result = calls_.ioctl(fd_, TIOCMBIC, &clear);
        ++sent;
    }
    if (result >= 0 && breakRequest != 0) {
        result = calls_.ioctl(fd_, static_cast<unsigned long>(breakRequest), nullptr);
        ++sent;
    }
    return result < 0 ? result : sent;
}

bool SerialLines::closeDevice() {
    const int result = calls_.close(fd_);
    fd_ = -1;
    return result >= 0;
}

bool SerialLines::present() {
    return calls_.exists(device_.c_str());
}

} // namespace lumenvale
