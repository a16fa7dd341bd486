// The settle wait, the exposure wait and the readout timer around one acquisition.
#include "camera/ExposureTiming.h"

#include "acquisition/Acquisition.h"
#include "camera/CameraLines.h"
#include "camera/CaptureState.h"
#include "camera/LineStates.h"
#include "camera/ProgressDisplay.h"
#include "camera/Services.h"
#include "platform/Clock.h"
#include "platform/Keystrokes.h"
#include "platform/MessagePump.h"
#include "platform/WindowTimers.h"

#include <algorithm>

namespace lumenvale {

ExposureTiming::ExposureTiming(CaptureState& state, Services& services, CameraLines& lines)
    : state_(state), services_(services), lines_(lines) {}

void ExposureTiming::pumpUntil(std::int32_t remainingMs, std::int32_t refreshMs) {
    // Block for events until a millisecond before the deadline; the last millisecond is
    // polled, because the clock's whole milliseconds and the event loop's rounding of its
    // timeouts would otherwise make the wait end up to two milliseconds late.
    if (remainingMs <= FinalPollMs) {
        services_.pump.DoEvents();
        return;
    }
    services_.pump.waitForEvents(std::min(remainingMs - FinalPollMs, refreshMs));
}

void ExposureTiming::settleWait() {
    const std::int32_t t0 = services_.clock.timeGetTime();
    const std::int32_t end = TickAdd(t0, SettleMs);
    for (;;) {
        const std::int32_t now = services_.clock.timeGetTime();
        if (TickReached(now, end)) {
            return;
        }
        pumpUntil(TickDiff(end, now), SettleMs);
    }
}

void ExposureTiming::WaitForExposure(ProgressDisplay& progress) {
    for (;;) {
        // ExposureStart and ExposureMs are read afresh on every turn: Stop, or any handler
        // run while events are pumped, takes effect on the next turn.
        const std::int32_t now = services_.clock.timeGetTime();
        const std::int32_t ms = state_.ExposureMs;
        const std::int32_t end = TickAdd(state_.ExposureStart, ms);
        // A length of 0 or less is over at once, however far below zero it lies.
        if (ms <= 0 || TickReached(now, end)) {
            return;
        }
        const std::int32_t now2 = services_.clock.timeGetTime();
        const std::int32_t elapsed = TickDiff(now2, state_.ExposureStart);
        // Never past the bar's maximum, and never below its minimum when a handler moved
        // the start into the future.
        progress.setProgressValue(static_cast<float>(std::clamp(elapsed, 0, ms)));
        pumpUntil(TickDiff(end, now2), ProgressRefreshMs);
    }
}

void ExposureTiming::ReadoutTimerProc() {
    if (state_.TimerPhase == 0) {
        state_.TimerPhase = 1;
    }
    if (state_.TimerPhase == 1) {
        state_.TimerPhase = 2;
        lines_.writePortState(state_.ReadoutSelect == 1 ? LineReadout : LineReadoutField1);
        services_.keys.sendEnter();
    }
}

std::int32_t ExposureTiming::acquireWithReadoutTimer(QWidget* window, unsigned intervalMs,
                                                     const std::string& fileName) {
    constexpr std::uintptr_t ReadoutTimerId = 0;
    services_.timers.SetTimer(
        window, ReadoutTimerId, intervalMs,
        [this](QWidget*, unsigned, std::uintptr_t, std::uint32_t) { ReadoutTimerProc(); });
    // The timer must not outlive the acquisition, even one that ends by an exception.
    struct KillOnExit {
        WindowTimers& timers;
        QWidget* window;
        ~KillOnExit() { timers.KillTimer(window, ReadoutTimerId); }
    } kill{services_.timers, window};
    return services_.acquisition.TWAIN_AcquireToFilename(window, fileName);
}

} // namespace lumenvale
