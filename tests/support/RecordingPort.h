// A camera port for tests: records every call, publishes every write to the line monitor like
// the real port, and can be told to fail its initialisation or shutdown a number of times.
#pragma once

#include "lines/PortIo.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumenvale {
class Clock;
class LineMonitor;
} // namespace lumenvale

namespace lumenvale::test {

class RecordingPort : public PortIo {
public:
    struct Write {
        std::uint32_t port = 0;
        std::uint32_t value = 0;
        std::uint8_t size = 0;
        bool open = false; // whether the port was open when the write was made
    };

    RecordingPort(LineMonitor& lines, const Clock& clock);

    // Fails (returns 0, lastError() = failureReason) while initFailures > 0, counting it down.
    int InitializeWinIo() override;
    // Publishes {tick, value} to the line monitor and records the write, open port or not.
    int SetPortVal(std::uint32_t port, std::uint32_t value, std::uint8_t size) override;
    // Fails (returns 0) while shutdownFailures > 0, counting it down; otherwise closes.
    int ShutdownWinIo() override;
    std::string lastError() const override { return lastError_; }
    // "writing to the test adapter failed: No such device" once writesBeforeFailure is used up.
    std::string writeError() const override { return writeError_; }

    // What the test sets up.
    int initFailures = 0;
    int shutdownFailures = 0;
    std::string failureReason = "no parallel port found";
    // Writes after this many fail as a USB adapter pulled out does; -1 never.
    int writesBeforeFailure = -1;

    // What happened.
    int initCalls = 0;
    int shutdownCalls = 0;
    bool open = false;
    std::vector<Write> writes;
    // Every call in order: "init 1", "init 0", "shutdown 1", "write 0x37", ...
    std::vector<std::string> log;

private:
    LineMonitor& lines_;
    const Clock& clock_;
    std::string lastError_;
    std::string writeError_;
};

} // namespace lumenvale::test
