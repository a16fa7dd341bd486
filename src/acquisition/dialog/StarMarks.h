// The focus star marked in the live picture, as focusing and guiding programs mark theirs: a
// circle round the star measured, as wide as its half-flux diameter says its light reaches,
// and fainter, thinner circles round the other stars a click there might have meant.
#pragma once

#include "analysis/FocusMeasure.h"

#include <QColor>
#include <QImage>

#include <algorithm>

#include <vector>

namespace lumenvale {

struct StarMarks {
    static inline const QColor Followed{40, 255, 40};
    static inline const QColor Other{255, 200, 0};

    // The circle's radius round a star of half-flux diameter `hfd`: most of its light inside.
    static double radius(double hfd) { return std::max(4.0, hfd) + 2; }

    static void draw(QImage& picture, const FocusMeasure::Star& star,
                     const std::vector<StarPatch>& others);
};

} // namespace lumenvale
