// Window timers with a callback, as the acquisition timer needs them: keyed by window and id,
// and delivered only while an event loop runs on the user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

class QWidget;

namespace lumenvale {

class KernelTimer;

using TimerProc =
    std::function<void(QWidget* window, unsigned message, std::uintptr_t id, std::uint32_t time)>;

class WindowTimers {
public:
    WindowTimers();
    ~WindowTimers();
    WindowTimers(const WindowTimers&) = delete;
    WindowTimers& operator=(const WindowTimers&) = delete;

    // Starts (or restarts) the timer `id` of `window`, ticking every `intervalMs` to within the
    // event loop's own delay (0: on every turn of the loop). Returns `id`.
    std::uintptr_t SetTimer(QWidget* window, std::uintptr_t id, unsigned intervalMs,
                            TimerProc proc);
    // Stops the timer; false when there was none.
    bool KillTimer(QWidget* window, std::uintptr_t id);

    std::size_t activeCount() const { return timers_.size(); }
    // Timers still allocated: the active ones and any killed from inside its own callback,
    // which is freed by the next SetTimer or KillTimer once that callback has returned.
    std::size_t allocatedCount() const { return timers_.size() + retired_.size(); }

private:
    void freeRetired();

    std::map<std::pair<QWidget*, std::uintptr_t>, std::unique_ptr<KernelTimer>> timers_;
    std::vector<std::unique_ptr<KernelTimer>> retired_;
    std::vector<const KernelTimer*> firing_; // timers whose callback is running, innermost last
};

} // namespace lumenvale
