// The simulated camera's controls, under the ids and names a webcam's driver gives them, so the
// settings kept for it read the same as a webcam's.
#pragma once

#include "acquisition/CameraControls.h"
#include "acquisition/simulated/SimulatedCamera.h"

namespace lumenvale {

// Gain and brightness; one frame rate only.
class SimulatedControlSet : public CameraControlSet {
public:
    explicit SimulatedControlSet(SimulatedCamera& camera) : camera_(camera) {}

    std::vector<CameraControl> controls() override;
    // A value outside a control's range is refused, as a driver refuses it.
    std::optional<QString> set(std::uint32_t id, std::int64_t value) override;

private:
    SimulatedCamera& camera_;
};

} // namespace lumenvale
