// What the Video window shows of the stream besides the picture: the frame rate the camera
// keeps, from its own frame times over the last second, and the levels in the part of the
// picture being recorded (a histogram and its peak), by which the gain is set: a planet's
// brightest level well below 255, never clipped.
#pragma once

#include "frames/AcquiredFrame.h"

#include <QRect>

#include <array>
#include <cstdint>
#include <deque>

namespace lumenvale {

class VideoMonitor {
public:
    // One frame and when it began on the sensor (CLOCK_MONOTONIC microseconds); `region` is
    // the part of the picture the levels are taken from.
    void add(const AcquiredFrame& picture, std::int64_t startUs, const QRect& region);

    // 0 until two frames came within a second.
    double framesPerSecond() const;
    // How many red, green and blue values of the last frame's region have each level.
    const std::array<int, 256>& histogram() const { return histogram_; }
    // The highest of them.
    int peak() const { return peak_; }

private:
    std::deque<std::int64_t> recentUs_;
    std::array<int, 256> histogram_{};
    int peak_ = 0;
};

} // namespace lumenvale
