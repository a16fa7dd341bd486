// The camera as one connection of the driver holds it: the chosen camera-line adapter and the
// capture core the desktop program runs too (lines, timing, commands), over the driver's
// services.
#pragma once

#include "camera/CameraLines.h"
#include "camera/CaptureCommands.h"
#include "camera/CaptureState.h"
#include "camera/ExposureTiming.h"
#include "camera/Services.h"
#include "lines/PortIo.h"

#include <filesystem>
#include <memory>
#include <string>

namespace lumenvale {

class ControlPanel;
class FrameDisplay;
struct Settings;

// The services every connection shares; the camera-line adapter is the rig's own.
struct DriverServices {
    Clock& clock;
    LineMonitor& lines;
    WindowTimers& timers;
    Keystrokes& keys;
    MessagePump& pump;
    Messages& messages;
    FileSystemObject& files;
    Acquisition& acquisition;
};

struct CameraRig {
    CameraRig(const DriverServices& s, std::unique_ptr<PortIo> adapter, const Settings& settings,
              ControlPanel& panel, FrameDisplay& frames, const std::filesystem::path& workDir)
        : port(std::move(adapter)), services{s.clock, s.lines,    *port,   s.timers,     s.keys,
                                             s.pump,  s.messages, s.files, s.acquisition},
          lines(*port, state, s.messages), timing(state, services, lines),
          commands(state, settings, services, lines, timing, panel, frames, workDir) {}

    std::unique_ptr<PortIo> port;
    Services services;
    CaptureState state;
    CameraLines lines;
    ExposureTiming timing;
    CaptureCommands commands;
};

} // namespace lumenvale
