// The stack on the screen: a midtones transfer from the stack's own statistics, as
// astronomical viewers stretch a linear picture. The sky's median, less a few deviations, goes
// to black; the midtones balance is chosen so that the sky lands at a quarter of the range;
// the faint stars and nebulae between sky and white are spread over the rest. One stretch for
// the three colours, from their sum, so the colours keep their balance.
#pragma once

#include "analysis/FloatPicture.h"

#include <QImage>

namespace lumenvale {

class MidtonesStretch {
public:
    static constexpr double ShadowsClipSigma = 2.8;
    static constexpr double TargetBackground = 0.25;

    struct Levels {
        double black = 0;   // input level shown black
        double white = 255; // input level shown white
        double midtones = 0.5;
    };

    static Levels automatic(const FloatPicture& picture);
    // The midtones transfer function: 0 -> 0, m -> 0.5, 1 -> 1.
    static double Transfer(double midtones, double x);
    // 8-bit RGB.
    static QImage apply(const FloatPicture& picture, const Levels& levels);
};

} // namespace lumenvale
