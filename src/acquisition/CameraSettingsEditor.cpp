// Changing a camera's controls from the panel and keeping what was changed.
#include "acquisition/CameraSettingsEditor.h"

#include <QStringList>

#include <algorithm>

namespace lumenvale {

CameraSettingsEditor::CameraSettingsEditor(
    CameraControlSet& camera, KeptCameraSettings& kept, std::function<void()> keptChanged,
    std::function<std::optional<QString>(FrameInterval)> changeInterval)
    : camera_(camera), kept_(kept), keptChanged_(std::move(keptChanged)),
      changeInterval_(std::move(changeInterval)) {
    reread();
}

void CameraSettingsEditor::reread() {
    controls_ = camera_.controls();
    intervals_ = camera_.frameIntervals();
    interval_ = camera_.frameInterval();
}

const CameraControl* CameraSettingsEditor::control(std::uint32_t id) const {
    const auto it = std::find_if(controls_.begin(), controls_.end(),
                                 [id](const CameraControl& c) { return c.id == id; });
    return it == controls_.end() ? nullptr : &*it;
}

std::optional<QString> CameraSettingsEditor::set(std::uint32_t id, std::int64_t value) {
    const CameraControl* control = this->control(id);
    if (control == nullptr) {
        return QStringLiteral("the camera no longer offers this control");
    }
    const bool button = control->kind == CameraControl::Kind::Button;
    std::optional<QString> refused = camera_.set(id, value);
    if (!refused && !button) {
        kept_.values[id] = value;
        if (keptChanged_) {
            keptChanged_();
        }
    }
    controls_ = camera_.controls();
    return refused;
}

std::optional<QString> CameraSettingsEditor::setFrameInterval(FrameInterval interval) {
    std::optional<QString> refused =
        changeInterval_ ? changeInterval_(interval) : camera_.setFrameInterval(interval);
    if (!refused) {
        kept_.interval = interval;
        if (keptChanged_) {
            keptChanged_();
        }
    }
    reread();
    return refused;
}

std::optional<QString> CameraSettingsEditor::restoreDefaults() {
    // The values while the modes they depend on still let them count, then the modes, then the
    // values the modes made count again; a driver refuses to set what counts for nothing.
    QStringList refusals;
    auto setDefaults = [&](bool modes, bool report) {
        for (const CameraControl& control : camera_.controls()) {
            if (!control.settable() || control.inactive ||
                control.kind == CameraControl::Kind::Button ||
                control.value == control.defaultValue || control.switchesMode() != modes) {
                continue;
            }
            const auto refused = camera_.set(control.id, control.defaultValue);
            if (refused && report) {
                refusals << QStringLiteral("%1: %2").arg(control.name, *refused);
            }
        }
    };
    setDefaults(false, false);
    setDefaults(true, true);
    setDefaults(false, true);
    // The camera's first use is not repeated: the user asked for the driver's own settings.
    kept_.values.clear();
    kept_.turnedOff.clear();
    kept_.prepared = true;
    if (keptChanged_) {
        keptChanged_();
    }
    controls_ = camera_.controls();
    if (refusals.isEmpty()) {
        return std::nullopt;
    }
    return refusals.join(QLatin1Char('\n'));
}

QString CameraSettingsEditor::turnedOffNote() const {
    if (kept_.turnedOff.empty()) {
        return {};
    }
    return QStringLiteral("Turned off at this camera's first use, as they would fight a long "
                          "exposure: %1. Any of them may be turned on again here.")
        .arg(
            QStringList(kept_.turnedOff.begin(), kept_.turnedOff.end()).join(QStringLiteral(", ")));
}

} // namespace lumenvale
