// A timer on the kernel's timerfd.
#include "platform/KernelTimer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

namespace lumenvale {

namespace {

timespec ToTimespec(std::chrono::microseconds us) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(us);
    return {static_cast<time_t>(seconds.count()),
            static_cast<long>(std::chrono::nanoseconds(us - seconds).count())};
}

} // namespace

KernelTimer::KernelTimer(std::function<void()> onTimeout)
    : onTimeout_(std::move(onTimeout)),
      fd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
    if (fd_ >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { activated(); });
    } else {
        fallback_ = std::make_unique<QTimer>();
        fallback_->setTimerType(Qt::PreciseTimer);
        QObject::connect(fallback_.get(), &QTimer::timeout, [this] { onTimeout_(); });
    }
}

KernelTimer::~KernelTimer() {
    notifier_.reset();
    if (fd_ >= 0) {
        close(fd_);
    }
}

void KernelTimer::start(std::chrono::microseconds period) {
    arm(period, std::max(period, std::chrono::microseconds(1)));
}

void KernelTimer::startOnce(std::chrono::microseconds due) {
    arm(due, std::chrono::microseconds(0));
}

void KernelTimer::arm(std::chrono::microseconds due, std::chrono::microseconds period) {
    if (fallback_) {
        fallback_->setSingleShot(period.count() == 0);
        fallback_->start(std::max(
            0, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due).count())));
        return;
    }
    itimerspec schedule{};
    // A zero value would disarm the timer: "at once" is the smallest time there is.
    schedule.it_value = ToTimespec(std::max(due, std::chrono::microseconds(1)));
    schedule.it_interval = ToTimespec(period);
    timerfd_settime(fd_, 0, &schedule, nullptr);
}

void KernelTimer::stop() {
    if (fallback_) {
        fallback_->stop();
        return;
    }
    const itimerspec off{};
    timerfd_settime(fd_, 0, &off, nullptr);
    // An expiry not yet read would still wake the loop once.
    std::uint64_t expiries = 0;
    [[maybe_unused]] const ssize_t got = read(fd_, &expiries, sizeof expiries);
}

void KernelTimer::activated() {
    std::uint64_t expiries = 0;
    // Nothing to read: the timer was stopped or restarted after the loop saw it due.
    if (read(fd_, &expiries, sizeof expiries) != static_cast<ssize_t>(sizeof expiries)) {
        return;
    }
    onTimeout_();
}

} // namespace lumenvale
