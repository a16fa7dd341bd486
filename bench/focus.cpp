// Timing of the focus aid on the simulated camera's live pictures: finding and measuring the
// star followed, and the display stretch, each on the user-interface thread for every preview
// frame, and choosing the brightest star afresh, as the first frame does. Prints "name value"
// lines: medians over 200 frames, the slowest measurement, and the star's size as measured; then
// the measurement of a star far out of focus, a donut of radius 30, as every focus run starts,
// and of a faint star on a frame whose corner glows.
#include "BenchFigures.h"

#include "acquisition/simulated/SimulatedCamera.h"
#include "analysis/DisplayStretch.h"
#include "analysis/FocusMeasure.h"
#include "analysis/FocusTracker.h"
#include "lines/LineMonitor.h"
#include "support/StarFrames.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace lumenvale;
using namespace lumenvale::bench;

int main() {
    LineMonitor lines;
    SimulatedCamera camera(lines);
    FocusMeasure measure;
    FocusTracker tracker;

    constexpr int Warmup = 5;
    constexpr int Frames = 200;
    std::vector<double> focus;
    std::vector<double> choose;
    std::vector<double> stretch;
    std::vector<double> hfd;
    std::vector<double> fwhm;
    int found = 0;
    for (int i = 0; i < Warmup + Frames; ++i) {
        const AcquiredFrame frame = camera.preview();
        const Instant start = std::chrono::steady_clock::now();
        const auto star = tracker.next(frame);
        const Instant end = std::chrono::steady_clock::now();
        measure.measure(frame);
        const Instant chosen = std::chrono::steady_clock::now();
        QImage picture = frame.toImage();
        const Instant stretchStart = std::chrono::steady_clock::now();
        picture = DisplayStretch::apply(std::move(picture), DisplayStretch::automatic(frame));
        const Instant stretchEnd = std::chrono::steady_clock::now();
        if (i >= Warmup) {
            focus.push_back(ms(start, end));
            choose.push_back(ms(end, chosen));
            stretch.push_back(ms(stretchStart, stretchEnd));
            if (star) {
                ++found;
                hfd.push_back(star->hfd);
                fwhm.push_back(star->fwhm);
            }
        }
    }
    print("focus_ms_per_frame", median(focus));
    print("focus_ms_max", *std::max_element(focus.begin(), focus.end()));
    print("focus_ms_choosing", median(choose));
    print("focus_frames_with_star", found);
    print("stretch_ms_per_frame", median(stretch));
    if (found != Frames) {
        return 1;
    }

    // A tracker following the star through `frames` over and over: the median time a frame.
    const auto following = [&](const std::vector<AcquiredFrame>& frames) {
        std::vector<double> times;
        FocusTracker followed;
        for (int i = 0; i < Warmup + Frames; ++i) {
            const AcquiredFrame& frame = frames[std::size_t(i) % frames.size()];
            const Instant start = std::chrono::steady_clock::now();
            const auto star = followed.next(frame);
            const Instant end = std::chrono::steady_clock::now();
            if (!star) {
                return -1.0;
            }
            if (i >= Warmup) {
                times.push_back(ms(start, end));
            }
        }
        return median(times);
    };
    std::vector<AcquiredFrame> donuts;
    std::vector<AcquiredFrame> glowing;
    for (std::uint32_t seed = 1; seed <= 5; ++seed) {
        donuts.push_back(test::SkyFrame(test::DonutStar{320.5, 240.5, 30, 10.5, 25}, 20, 3, seed));
        // A faint star and the amplifier's glow ten times its height in the corner.
        glowing.push_back(test::GlowFrame({{420.3, 300.6, 1.5, 20}}, 200, false, seed));
    }
    const double donut = following(donuts);
    const double glow = following(glowing);
    if (donut < 0 || glow < 0) {
        return 1;
    }
    print("focus_ms_donut30", donut);
    print("focus_ms_glow", glow);
    // The simulated seeing is a Gaussian of sigma 1.2 pixels: 2.83 pixels across.
    print("focus_hfd_px", median(hfd));
    print("focus_fwhm_px", median(fwhm));
    return 0;
}
