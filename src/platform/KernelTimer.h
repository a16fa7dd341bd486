// A timer on the kernel's timerfd, delivered by the event loop of the thread that made it.
// Under the GLib event loop Qt rounds every wait for its own timers up to a whole millisecond,
// so a timer due in 0.3 ms fires up to a millisecond late; a timerfd wakes the loop at its due
// time to the microsecond. The exposure's end and the readout tick hang on such wake-ups.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace lumenvale {

class KernelTimer {
public:
    // `onTimeout` runs once for every activation, however many periods have passed since the
    // event loop last looked.
    explicit KernelTimer(std::function<void()> onTimeout);
    ~KernelTimer();
    KernelTimer(const KernelTimer&) = delete;
    KernelTimer& operator=(const KernelTimer&) = delete;

    // Due every `period` from now on (zero or less: as soon as possible, again and again).
    // Starting again replaces the earlier schedule.
    void start(std::chrono::microseconds period);
    // Due once, `due` from now.
    void startOnce(std::chrono::microseconds due);
    void stop();

private:
    void arm(std::chrono::microseconds due, std::chrono::microseconds period);
    void activated();

    std::function<void()> onTimeout_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    // Only where no timerfd could be had (the process is out of descriptors): Qt's own timer.
    std::unique_ptr<QTimer> fallback_;
};

} // namespace lumenvale
