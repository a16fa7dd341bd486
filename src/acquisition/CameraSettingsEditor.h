// The working of the camera controls panel: one camera's controls as they stand, each change
// passed to the camera, read back (a change may make another control inactive) and kept for the
// camera's next use; the driver's defaults on request.
#pragma once

#include "acquisition/CameraControls.h"

#include <functional>
#include <optional>
#include <vector>

namespace lumenvale {

class CameraSettingsEditor {
public:
    // `changeInterval` changes the camera's frame rate (a webcam must stop streaming for it)
    // and gives the reason it failed; `keptChanged` is told whenever `kept` changed.
    CameraSettingsEditor(
        CameraControlSet& camera, KeptCameraSettings& kept, std::function<void()> keptChanged,
        std::function<std::optional<QString>(FrameInterval)> changeInterval = nullptr);

    // As last read from the camera.
    const std::vector<CameraControl>& controls() const { return controls_; }
    const CameraControl* control(std::uint32_t id) const;
    // Sets a value, or presses a button; nothing when the camera took it, else its reason.
    std::optional<QString> set(std::uint32_t id, std::int64_t value);

    const std::vector<FrameInterval>& frameIntervals() const { return intervals_; }
    std::optional<FrameInterval> frameInterval() const { return interval_; }
    std::optional<QString> setFrameInterval(FrameInterval interval);

    // Every control the user may set back to the driver's default, the modes first; the kept
    // values go with them. Nothing when all were taken, else the refusals, one a line.
    std::optional<QString> restoreDefaults();

    // What the camera's first use turned off, as the panel says it ("" when nothing was).
    QString turnedOffNote() const;

    // Reads the controls and the frame rate afresh.
    void reread();

private:
    CameraControlSet& camera_;
    KeptCameraSettings& kept_;
    std::function<void()> keptChanged_;
    std::function<std::optional<QString>(FrameInterval)> changeInterval_;
    std::vector<CameraControl> controls_;
    std::vector<FrameInterval> intervals_;
    std::optional<FrameInterval> interval_;
};

} // namespace lumenvale
