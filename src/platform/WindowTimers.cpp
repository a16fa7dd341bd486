// Window timers on QTimer.
#include "platform/WindowTimers.h"

#include <QTimer>
#include <QWidget>

#include <chrono>

namespace lumenvale {

WindowTimers::WindowTimers() = default;
WindowTimers::~WindowTimers() = default;

std::uintptr_t WindowTimers::SetTimer(QWidget* window, std::uintptr_t id, unsigned intervalMs,
                                      TimerProc proc) {
    auto timer = std::make_unique<QTimer>();
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(static_cast<int>(intervalMs));
    // WM_TIMER, as the callback has always been told.
    constexpr unsigned TimerMessage = 0x0113;
    QObject::connect(timer.get(), &QTimer::timeout, [window, id, proc = std::move(proc)] {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        proc(window, TimerMessage, id,
             static_cast<std::uint32_t>(
                 std::chrono::duration_cast<std::chrono::milliseconds>(now).count()));
    });
    timer->start();
    KillTimer(window, id);
    timers_[{window, id}] = std::move(timer);
    return id;
}

bool WindowTimers::KillTimer(QWidget* window, std::uintptr_t id) {
    const auto it = timers_.find({window, id});
    if (it == timers_.end()) {
        return false;
    }
    // The timer may be the one whose callback is running: stop it now, free it later.
    it->second->stop();
    it->second.release()->deleteLater();
    timers_.erase(it);
    return true;
}

} // namespace lumenvale
