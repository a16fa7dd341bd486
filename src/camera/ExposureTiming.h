// The settle wait, the exposure wait, and the readout timer around one acquisition.
#pragma once

#include <cstdint>
#include <string>

class QWidget;

namespace lumenvale {

class CameraLines;
class ProgressDisplay;
struct CaptureState;
struct Services;

class ExposureTiming {
public:
    ExposureTiming(CaptureState& state, Services& services, CameraLines& lines);

    // 100 ms from now, pumping events; blocks between events instead of spinning.
    void settleWait();

    // Returns when the clock reaches ExposureStart + ExposureMs, both re-read on every turn
    // (Stop's ExposureMs = 0 ends it on the next turn), advancing `progress` meanwhile and
    // never past ExposureMs. With ExposureMs <= 0 it returns at once without touching
    // `progress`.
    void WaitForExposure(ProgressDisplay& progress);

    // The acquisition timer callback: on the first tick after arming, writes the readout
    // state (0x37 or 0x35 by ReadoutSelect) and sends one Return; later ticks do nothing.
    void ReadoutTimerProc();

    // Steps 2 to 4 of arming: SetTimer(window, 0, intervalMs), acquire into `fileName`,
    // KillTimer. The caller has set ReadoutSelect and TimerPhase = 0. Returns the
    // acquisition's result.
    std::int32_t acquireWithReadoutTimer(QWidget* window, unsigned intervalMs,
                                         const std::string& fileName);

    // The exposure wait refreshes the progress at least this often (25 Hz).
    static constexpr std::int32_t ProgressRefreshMs = 40;
    // The last stretch before a deadline that is polled instead of blocked.
    static constexpr std::int32_t FinalPollMs = 1;

private:
    // One turn's pause: handles events, blocking until one arrives or the wake-up that comes
    // first of the deadline `remainingMs` away and the next refresh `refreshMs` away.
    void pumpUntil(std::int32_t remainingMs, std::int32_t refreshMs);

    CaptureState& state_;
    Services& services_;
    CameraLines& lines_;
};

} // namespace lumenvale
