// The emulated webcam's event log: one line per event, each starting with its CLOCK_MONOTONIC
// time in microseconds, so a test of a whole program can check afterwards what the camera saw.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace lumenvale::emulated {

// Microseconds on CLOCK_MONOTONIC, the clock of the buffer timestamps and the port writes.
std::int64_t monotonicUs();

class EventLog {
public:
    EventLog() = default;
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;
    ~EventLog();

    // Appends to `path` from now on; an empty path logs nothing. False when it cannot be opened.
    bool open(const std::string& path);
    // printf-style; the time and the newline are added.
    void line(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};

} // namespace lumenvale::emulated
