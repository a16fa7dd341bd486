// Automatic levels for the live picture, so faint stars and the sky's detail show on the
// screen: black a little below the frame's median, which is the sky, and white at a high
// percentile, which the brighter stars reach. For the screen only: the frame written to the
// file is never stretched.
#pragma once

#include "frames/AcquiredFrame.h"

#include <QImage>

namespace lumenvale {

class DisplayStretch {
public:
    struct Levels {
        int black = 0;
        int white = 255;
    };

    static constexpr double WhitePercentile = 99.8;
    // Levels never closer than this, so a dark or flat frame is not turned into pure noise.
    static constexpr int MinSpan = 16;

    // From the colour values of the whole frame.
    static Levels automatic(const AcquiredFrame& frame);

    // The picture with `levels` spread over the whole range of every colour value.
    static QImage apply(QImage picture, Levels levels);
};

} // namespace lumenvale
