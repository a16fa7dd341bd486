// The ppdev camera port (to be completed: open, claim, write, release).
#include "platform/PpdevPort.h"

#include "platform/Clock.h"
#include "platform/LineMonitor.h"

namespace lumenvale {

PpdevPort::PpdevPort(LineMonitor& lines, const Clock& clock, std::string device)
    : lines_(lines), clock_(clock), device_(std::move(device)) {}

int PpdevPort::InitializeWinIo() {
    lastError_ = "not implemented";
    return 0;
}

int PpdevPort::SetPortVal(std::uint32_t /*port*/, std::uint32_t value, std::uint8_t /*size*/) {
    lines_.publish({clock_.timeGetTime(), static_cast<std::uint8_t>(value)});
    return fd_ >= 0 ? 1 : 0;
}

int PpdevPort::ShutdownWinIo() {
    return 1;
}

} // namespace lumenvale
