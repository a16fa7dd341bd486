// Keeps the live picture from falling behind the camera: a frame is shown only when at least
// as much time has passed since the last one was shown as showing it took. However slow a
// frame is to measure and draw, at most half of the user-interface thread goes to the preview,
// and the rest keeps the dialog answering and the camera's buffers emptied.
#pragma once

#include <cstdint>

namespace lumenvale {

class PreviewPacer {
public:
    // Times in microseconds on any steady clock.
    bool due(std::int64_t now) const { return now - lastEnd_ >= lastCost_; }
    void shown(std::int64_t start, std::int64_t end) {
        lastEnd_ = end;
        lastCost_ = end - start;
    }

private:
    std::int64_t lastEnd_ = 0;
    std::int64_t lastCost_ = 0;
};

} // namespace lumenvale
