// The recording camera port for tests.
#include "support/RecordingPort.h"

#include "lines/LineMonitor.h"
#include "platform/Clock.h"

#include <cstdio>

namespace lumenvale::test {

RecordingPort::RecordingPort(LineMonitor& lines, const Clock& clock)
    : lines_(lines), clock_(clock) {}

int RecordingPort::InitializeWinIo() {
    ++initCalls;
    if (initFailures > 0) {
        --initFailures;
        lastError_ = failureReason;
        log.emplace_back("init 0");
        return 0;
    }
    open = true;
    lastError_.clear();
    log.emplace_back("init 1");
    return 1;
}

int RecordingPort::SetPortVal(std::uint32_t port, std::uint32_t value, std::uint8_t size) {
    const bool failed =
        writesBeforeFailure >= 0 && static_cast<int>(writes.size()) >= writesBeforeFailure;
    writeError_ = failed ? "writing to the test adapter failed: No such device" : "";
    writes.push_back({port, value, size, open});
    char text[16];
    std::snprintf(text, sizeof text, "write 0x%02x", static_cast<unsigned>(value & 0xffU));
    log.emplace_back(text);
    lines_.publish({clock_.timeGetTime(), static_cast<std::uint8_t>(value), clock_.monotonicUs()});
    return open && !failed ? 1 : 0;
}

int RecordingPort::ShutdownWinIo() {
    ++shutdownCalls;
    if (shutdownFailures > 0) {
        --shutdownFailures;
        log.emplace_back("shutdown 0");
        return 0;
    }
    open = false;
    log.emplace_back("shutdown 1");
    return 1;
}

} // namespace lumenvale::test
