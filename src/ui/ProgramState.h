// Everything the program keeps between event handlers, in one place owned by the application.
#pragma once

#include "camera/CaptureState.h"
#include "settings/Settings.h"

#include <cstdint>

namespace lumenvale {

struct ProgramState {
    CaptureState capture;
    Settings settings;
    std::int16_t ControlShown = 0; // 1 once Camera > Control has shown the Control window
    // The Settings window's last save failed: the settings in memory are the ones in use, and
    // the file holds older ones until a save succeeds.
    bool SettingsUnsaved = false;
};

} // namespace lumenvale
