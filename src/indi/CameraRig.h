// The camera as one connection of the driver holds it: the port on the chosen device and the
// capture core the desktop program runs too (lines, timing, commands), over the driver's
// services.
#pragma once

#include "camera/CameraLines.h"
#include "camera/CaptureCommands.h"
#include "camera/CaptureState.h"
#include "camera/ExposureTiming.h"
#include "camera/Services.h"
#include "lines/PpdevPort.h"

#include <filesystem>
#include <string>

namespace lumenvale {

class ControlPanel;
class PpdevSyscalls;
class FrameDisplay;
struct Settings;

// The services every connection shares; the port is the rig's own.
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
    CameraRig(const DriverServices& s, PpdevSyscalls& ppdev, const std::string& portDevice,
              const Settings& settings, ControlPanel& panel, FrameDisplay& frames,
              const std::filesystem::path& workDir)
        : port(s.lines, s.clock, ppdev, portDevice), services{s.clock,    s.lines, port,
                                                              s.timers,   s.keys,  s.pump,
                                                              s.messages, s.files, s.acquisition},
          lines(port, state, s.messages), timing(state, services, lines),
          commands(state, settings, services, lines, timing, panel, frames, workDir) {}

    PpdevPort port;
    Services services;
    CaptureState state;
    CameraLines lines;
    ExposureTiming timing;
    CaptureCommands commands;
};

} // namespace lumenvale
