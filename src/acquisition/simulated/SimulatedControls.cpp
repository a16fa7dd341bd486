// The simulated camera's controls.
#include "acquisition/simulated/SimulatedControls.h"

#include <linux/videodev2.h>

namespace lumenvale {

std::vector<CameraControl> SimulatedControlSet::controls() {
    const auto integer = [](std::uint32_t id, const char* name, int minimum, int maximum,
                            int value) {
        CameraControl control;
        control.id = id;
        control.kind = CameraControl::Kind::Integer;
        control.name = QString::fromLatin1(name);
        control.minimum = minimum;
        control.maximum = maximum;
        control.defaultValue = 0;
        control.value = value;
        return control;
    };
    return {integer(V4L2_CID_GAIN, "Gain", SimulatedCamera::GainMinimum,
                    SimulatedCamera::GainMaximum, camera_.gain()),
            integer(V4L2_CID_BRIGHTNESS, "Brightness", SimulatedCamera::BrightnessMinimum,
                    SimulatedCamera::BrightnessMaximum, camera_.brightness())};
}

std::optional<QString> SimulatedControlSet::set(std::uint32_t id, std::int64_t value) {
    for (const CameraControl& control : controls()) {
        if (control.id != id) {
            continue;
        }
        if (value < control.minimum || value > control.maximum) {
            return QStringLiteral("out of range (%1 to %2)")
                .arg(control.minimum)
                .arg(control.maximum);
        }
        if (id == V4L2_CID_GAIN) {
            camera_.setGain(int(value));
        } else {
            camera_.setBrightness(int(value));
        }
        return std::nullopt;
    }
    return QStringLiteral("the simulated camera has no such control");
}

} // namespace lumenvale
