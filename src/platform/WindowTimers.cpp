// Window timers on the kernel's timers.
#include "platform/WindowTimers.h"

#include "platform/KernelTimer.h"

#include <algorithm>
#include <chrono>
#include <memory>

namespace lumenvale {

WindowTimers::WindowTimers() = default;
WindowTimers::~WindowTimers() = default;

std::uintptr_t WindowTimers::SetTimer(QWidget* window, std::uintptr_t id, unsigned intervalMs,
                                      TimerProc proc) {
    // WM_TIMER, as the callback has always been told.
    constexpr unsigned TimerMessage = 0x0113;
    // The callback knows its own timer, which exists only once the callback does.
    auto self = std::make_shared<const KernelTimer*>(nullptr);
    auto timer = std::make_unique<KernelTimer>([this, self, window, id, proc = std::move(proc)] {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        firing_.push_back(*self);
        proc(window, TimerMessage, id,
             static_cast<std::uint32_t>(
                 std::chrono::duration_cast<std::chrono::milliseconds>(now).count()));
        firing_.pop_back();
    });
    *self = timer.get();
    timer->start(std::chrono::milliseconds(intervalMs));
    KillTimer(window, id);
    timers_[{window, id}] = std::move(timer);
    return id;
}

bool WindowTimers::KillTimer(QWidget* window, std::uintptr_t id) {
    const auto it = timers_.find({window, id});
    if (it == timers_.end()) {
        freeRetired();
        return false;
    }
    std::unique_ptr<KernelTimer> timer = std::move(it->second);
    timers_.erase(it);
    timer->stop();
    // Freed now, not when the main loop next runs: a capture run kills a timer for every
    // readout without ever returning there. Only one whose callback is still running, further
    // up this call, must wait.
    if (std::find(firing_.begin(), firing_.end(), timer.get()) != firing_.end()) {
        retired_.push_back(std::move(timer));
    }
    freeRetired();
    return true;
}

void WindowTimers::freeRetired() {
    std::erase_if(retired_, [this](const std::unique_ptr<KernelTimer>& timer) {
        return std::find(firing_.begin(), firing_.end(), timer.get()) == firing_.end();
    });
}

} // namespace lumenvale
