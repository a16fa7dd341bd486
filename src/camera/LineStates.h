// The camera port and every line state the program writes to it.
#pragma once

#include "lines/CameraStates.h"

#include <cstdint>

namespace lumenvale {

// Settle wait between the frame-start pulse and the exposure.
inline constexpr std::int32_t SettleMs = 100;

// Acquisition timer intervals.
inline constexpr unsigned BinnedTimerMs = 1;
inline constexpr unsigned HiresTimerMs = 50;

} // namespace lumenvale
