// Writing the emulated webcam's event log.
#include "EventLog.h"

#include <cstdarg>
#include <ctime>

namespace lumenvale::emulated {

std::int64_t monotonicUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

EventLog::~EventLog() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool EventLog::open(const std::string& path) {
    const std::lock_guard lock(mutex_);
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (path.empty()) {
        return true;
    }
    // Appended: the program under test may open the camera in more than one process.
    file_ = std::fopen(path.c_str(), "ae");
    return file_ != nullptr;
}

void EventLog::line(const char* format, ...) {
    const std::int64_t now = monotonicUs();
    const std::lock_guard lock(mutex_);
    if (file_ == nullptr) {
        return;
    }
    std::fprintf(file_, "%lld ", static_cast<long long>(now));
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(file_, format, arguments);
    va_end(arguments);
    std::fputc('\n', file_);
    // Flushed at once: the process may end by a crash or _exit, and a reader may be waiting.
    std::fflush(file_);
}

} // namespace lumenvale::emulated
