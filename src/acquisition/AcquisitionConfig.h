// The acquisition library's own settings: which source acquires, how many frames a webcam
// lets pass after the readout, whether the live picture is stretched, and which adapter carries
// the camera lines, and each camera's own controls. Kept in an INI file of its own in the user's
// configuration directory, apart from the program's "config.dat".
#pragma once

#include "acquisition/CameraControls.h"
#include "lines/LineMapping.h"

#include <QString>

#include <filesystem>
#include <map>
#include <string>

namespace lumenvale {

struct AcquisitionConfig {
    enum class Source {
        Unset, // never chosen: a webcam if there is one, else the simulated camera
        Simulated,
        V4l2,
    };

    static constexpr int DefaultSkipFrames = 0;
    static constexpr int MaxSkipFrames = 30;

    Source source = Source::Unset;
    std::string devicePath; // for V4l2
    QString deviceName;
    int skipFrames = DefaultSkipFrames;
    bool stretch = false;
    // The parallel port unless chosen otherwise; a mapping that is missing or does not read
    // gives the adapter's default one.
    LinesChoice lines;
    // Each camera's own controls and frame rate as the user left them, by CameraIdentity::key()
    // (or SimulatedCameraKey).
    std::map<QString, KeptCameraSettings> cameras;

    // The settings kept for `camera`: under its key, or, for a camera plugged into another
    // port, the one camera of the same driver and name kept under another; a fresh entry when
    // neither is found.
    KeptCameraSettings& keptFor(const CameraIdentity& camera);

    // A missing or unreadable file gives the defaults; values out of range are brought in.
    static AcquisitionConfig load(const std::filesystem::path& file);
    // False when the file could not be written.
    bool save(const std::filesystem::path& file) const;

    // "acquisition.ini" in QStandardPaths::AppConfigLocation.
    static std::filesystem::path defaultFile();

    bool operator==(const AcquisitionConfig&) const = default;
};

} // namespace lumenvale
