// The frame rate and the levels, worked out on the window's thread as each frame arrives.
#include "video/VideoMonitor.h"

#include <algorithm>

namespace lumenvale {

namespace {

constexpr std::int64_t WindowUs = 1'000'000;

} // namespace

void VideoMonitor::add(const AcquiredFrame& picture, std::int64_t startUs, const QRect& region) {
    // A time that goes back is a stream started again: the rate starts over.
    if (!recentUs_.empty() && startUs <= recentUs_.back()) {
        recentUs_.clear();
    }
    recentUs_.push_back(startUs);
    while (startUs - recentUs_.front() > WindowUs) {
        recentUs_.pop_front();
    }
    const QRect inside = region & QRect(0, 0, AcquiredFrame::Width, AcquiredFrame::Height);
    histogram_.fill(0);
    peak_ = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        const std::uint8_t* row = picture.storedRow(AcquiredFrame::Height - 1 - y);
        for (int i = inside.left() * 3; i < (inside.right() + 1) * 3; ++i) {
            ++histogram_[row[i]];
            peak_ = std::max(peak_, int(row[i]));
        }
    }
}

double VideoMonitor::framesPerSecond() const {
    if (recentUs_.size() < 2) {
        return 0;
    }
    return double(recentUs_.size() - 1) * 1e6 / double(recentUs_.back() - recentUs_.front());
}

} // namespace lumenvale
