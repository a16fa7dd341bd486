// Where the acquisition library finds its settings and cameras, and how patient it is; the
// program uses the defaults, tests point them elsewhere.
#pragma once

#include "acquisition/simulated/SimulatedCamera.h"

#include <filesystem>

namespace lumenvale {

struct LineCalls;

struct AcquisitionOptions {
    // The library's INI file; empty: "acquisition.ini" in the user's configuration directory.
    std::filesystem::path configFile;
    // Where the video* device nodes are looked for.
    std::filesystem::path deviceDirectory = "/dev";
    // A webcam frame that has not arrived this long after the confirmation is a failure.
    int frameTimeoutMs = 3000;
    // How long a failure stays on the dialog's status line before it closes by itself.
    int failureLingerMs = 4000;
    // The calls behind the camera-line adapters, for the source chooser's device lists and
    // line test; none: the chooser lists no line devices and offers no test. Not owned.
    LineCalls* lineCalls = nullptr;
    // How the simulated camera's stars wander from one long exposure to the next.
    SimulatedCamera::Drift simulatedDrift;
};

} // namespace lumenvale
