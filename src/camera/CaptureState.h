// The capture state shared by the exposure timing and the capture commands.
#pragma once

#include <cstdint>

namespace lumenvale {

// All zero at program start. One instance, owned by the application.
struct CaptureState {
    std::int32_t ExposureStart = 0; // tick taken right after the exposure state was written
    std::int32_t ExposureMs = 0;    // length of the current exposure; Stop sets it to 0
    std::int16_t TimerPhase = 0;    // acquisition timer: 0 armed, 1 firing, 2 done
    std::int16_t ReadoutSelect = 0; // 1: readout state 0x37, 0: 0x35 (first hi-res field)
    std::int16_t PortState = 0;     // last line state written through it
    std::int16_t CaptureBusy = 0;   // 1 while Focus, 2x1 Binned or Hi-res runs
    std::int16_t FramesRequested = 0;
    std::int16_t FramesRemaining = 0; // counting the frame in progress
};

} // namespace lumenvale
