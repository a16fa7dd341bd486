// The part of the camera's picture a video keeps, in the order a SER frame holds it: the top
// line first, red, green, blue for each pixel, or one grey level in mono.
#pragma once

#include "frames/AcquiredFrame.h"

#include <QPoint>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <vector>

namespace lumenvale {

// A region of `size` centred on `centre` and moved inside the picture where it would cross an
// edge; the whole picture for an empty or larger size.
QRect VideoRegion(QSize size, QPoint centre);

// Replaces `out` with the pixels of `region` (inside the picture) of `picture`.
void CutVideoFrame(const AcquiredFrame& picture, const QRect& region, bool mono,
                   std::vector<std::uint8_t>& out);

} // namespace lumenvale
