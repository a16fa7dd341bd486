// Polling the simulated camera.
#include "acquisition/simulated/SimulatedCameraSource.h"

namespace lumenvale {

SourcePoll SimulatedCameraSource::poll() {
    SourcePoll result;
    if (confirmed_) {
        result.state = SourcePoll::State::Captured;
        result.frame = camera_.readOut();
    } else {
        result.preview = camera_.preview();
    }
    return result;
}

} // namespace lumenvale
