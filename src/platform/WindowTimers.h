// Window timers with a callback, as the acquisition timer needs them: keyed by window and id,
// and delivered only while an event loop runs on the user-interface thread.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

class QTimer;
class QWidget;

namespace lumenvale {

using TimerProc =
    std::function<void(QWidget* window, unsigned message, std::uintptr_t id, std::uint32_t time)>;

class WindowTimers {
public:
    WindowTimers();
    ~WindowTimers();
    WindowTimers(const WindowTimers&) = delete;
    WindowTimers& operator=(const WindowTimers&) = delete;

    // Starts (or restarts) the timer `id` of `window`, ticking every `intervalMs` (a precise
    // timer; 0 and 1 both mean "as soon as possible"). Returns `id`.
    std::uintptr_t SetTimer(QWidget* window, std::uintptr_t id, unsigned intervalMs,
                            TimerProc proc);
    // Stops the timer; false when there was none.
    bool KillTimer(QWidget* window, std::uintptr_t id);

    std::size_t activeCount() const { return timers_.size(); }

private:
    std::map<std::pair<QWidget*, std::uintptr_t>, std::unique_ptr<QTimer>> timers_;
};

} // namespace lumenvale
