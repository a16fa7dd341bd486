// The shared part of the camera-line adapters.
#include "lines/AdapterPort.h"

#include "lines/LineMonitor.h"
#include "platform/Clock.h"

#include <cerrno>
#include <cstring>

namespace lumenvale {

AdapterPort::AdapterPort(LineMonitor& lines, const Clock& clock, std::string what)
    : lines_(lines), clock_(clock), what_(std::move(what)) {}

int AdapterPort::InitializeWinIo() {
    if (open_) {
        lastError_.clear();
        return 1;
    }
    const std::string why = openDevice();
    if (!why.empty()) {
        lastError_ = why;
        return 0;
    }
    open_ = true;
    // Opening may move the outputs (a tty raises RTS and DTR): they follow the state at once.
    shown_.reset();
    const int result = applyState(state_, shown_);
    if (result < 0) {
        lastError_ = "Setting the lines of " + what_ + " failed: " + std::strerror(-result) + ".";
        closeIfOpen();
        return 0;
    }
    shown_ = state_;
    lastError_.clear();
    writeError_.clear();
    return 1;
}

int AdapterPort::SetPortVal(std::uint32_t /*port*/, std::uint32_t value, std::uint8_t /*size*/) {
    state_ = static_cast<std::uint8_t>(value & 0xffU);
    const std::int32_t sent = clock_.timeGetTime();
    int written = 0;
    bool moved = true;
    if (!open_) {
        writeError_ = what_ + " is not open";
    } else if (const int result = applyState(state_, shown_); result < 0) {
        shown_.reset();
        writeError_ = -result == ENODEV || !present()
                          ? "writing to " + what_ + " failed: " + std::strerror(ENODEV) +
                                " (it was unplugged)"
                          : "writing to " + what_ + " failed: " + std::strerror(-result);
    } else {
        moved = result > 0;
        shown_ = state_;
        writeError_.clear();
        written = 1;
    }
    // Stamped after the call has returned: a USB round trip takes a millisecond or more, and
    // the exposure is what the camera got.
    const std::int32_t tick = clock_.timeGetTime();
    lines_.publish({tick, state_, clock_.monotonicUs(), moved, TickDiff(tick, sent)});
    return written;
}

int AdapterPort::ShutdownWinIo() {
    if (!open_) {
        return 1;
    }
    open_ = false;
    return closeDevice() ? 1 : 0;
}

void AdapterPort::closeIfOpen() {
    if (open_) {
        open_ = false;
        closeDevice();
    }
}

std::string OpenFailureText(const std::string& what, int error, const std::string& access) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "No device was found at " + what + ": is it plugged in?";
    case EACCES:
    case EPERM:
        return "Permission denied on " + what + ": " + access;
    case EBUSY:
        return what + " is in use by another program.";
    default:
        return what + " cannot be opened: " + std::strerror(error) + ".";
    }
}

} // namespace lumenvale
