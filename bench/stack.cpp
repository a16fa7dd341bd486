// Timing and memory of the live stack on the simulated camera's binned frames, the
// stars drifting from frame to frame: the work of one frame (dark subtraction, hot pixels, the
// flat, star finding, alignment, adding) and of showing the stack (stretch, picture and
// histogram), and the memory the stack takes. Prints "name value" lines: medians over the
// frames, the slowest frame, how many frames were stacked, and the memory in megabytes. The
// quality gate is on, as in the program; its own work (the sky's median, the medians over the
// matched stars, the verdict) is timed apart on the same frames.
#include "BenchFigures.h"

#include "acquisition/simulated/SimulatedCamera.h"
#include "analysis/FloatPicture.h"
#include "analysis/LiveStack.h"
#include "analysis/MasterDark.h"
#include "analysis/MasterFlat.h"
#include "analysis/MidtonesStretch.h"
#include "analysis/QualityGate.h"
#include "analysis/StackStretch.h"
#include "analysis/StarFinder.h"
#include "analysis/StarRegistration.h"
#include "lines/LineMonitor.h"

#include <QGuiApplication>
#include <QPixmap>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

using namespace lumenvale;
using namespace lumenvale::bench;

namespace {

// The processed binned frame as the viewer shows it: each picture line read out once, doubled.
QImage BinnedPicture(SimulatedCamera& camera, std::int32_t exposureMs) {
    AcquiredFrame frame = camera.render({SimulatedCamera::Readout::Binned, exposureMs, true});
    for (int row = 0; row + 1 < AcquiredFrame::Height; row += 2) {
        std::memcpy(frame.storedRow(row + 1), frame.storedRow(row), AcquiredFrame::RowBytes);
    }
    return frame.toImage();
}

// A flat of the frames' size, the corners a third darker: dividing by it costs what a real
// flat's division costs.
FloatPicture Vignetting(int width, int height) {
    FloatPicture flat(width, height);
    const double cx = (width - 1) / 2.0;
    const double cy = (height - 1) / 2.0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double r2 = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (cx * cx + cy * cy);
            for (int c = 0; c < 3; ++c) {
                flat.row(y)[3 * x + c] = float(1 - r2 / 3);
            }
        }
    }
    return flat;
}

double ResidentMb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return double(resident) * 4096 / (1024 * 1024);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    char platform[] = "-platform";
    char offscreen[] = "offscreen";
    args.push_back(platform);
    args.push_back(offscreen);
    int count = int(args.size());
    QGuiApplication app(count, args.data());

    LineMonitor lines;
    SimulatedCamera camera(lines, {0.7, -0.4});
    constexpr int Frames = 30;
    // The simulated sky fills the 8 bits in about 10 s of a binned frame; a few seconds show
    // its stars as a well-chosen 30-second frame of a real night does.
    constexpr std::int32_t ExposureMs = 4000;
    std::vector<QImage> darks;
    for (int i = 0; i < 5; ++i) {
        darks.push_back(BinnedPicture(camera, 0));
    }
    std::vector<QImage> lights;
    for (int i = 0; i < Frames; ++i) {
        lights.push_back(BinnedPicture(camera, ExposureMs));
    }

    const double before = ResidentMb();
    const MasterDark dark(MasterDark::Median(darks));
    const MasterFlat flat(Vignetting(lights.front().width(), lights.front().height()));
    LiveStack stack;
    std::vector<double> work;
    std::vector<double> display;
    double slowest = 0;
    QPixmap shown;
    const StackStretch stretch;
    StackStretch::Histogram histogram;
    for (const QImage& light : lights) {
        const Instant start = std::chrono::steady_clock::now();
        stack.add(FloatPicture::FromImage(light), &dark, ExposureMs / 1000.0, &flat);
        const Instant added = std::chrono::steady_clock::now();
        shown =
            QPixmap::fromImage(MidtonesStretch::apply(stack.mean(), stretch.levels(stack.mean())));
        histogram = StackStretch::HistogramOf(stack.mean());
        const Instant end = std::chrono::steady_clock::now();
        work.push_back(ms(start, added));
        display.push_back(ms(added, end));
        slowest = std::max(slowest, ms(start, added));
    }
    const double after = ResidentMb();

    // The gate alone, on the frames as the stack sees them: calibrated, their stars found and
    // matched with the first frame's beforehand.
    std::vector<double> gate;
    QualityGate qualityGate;
    std::vector<StarPoint> reference;
    for (const QImage& light : lights) {
        FloatPicture frame = FloatPicture::FromImage(light);
        dark.apply(frame);
        const std::vector<StarPoint> stars = StarFinder::find(frame, LiveStack::MaxStars);
        if (reference.empty()) {
            reference = stars;
            qualityGate.stacked(QualityGate::Background(frame));
            continue;
        }
        const std::optional<Registration> found = StarRegistration::align(reference, stars);
        if (!found) {
            continue;
        }
        const Instant start = std::chrono::steady_clock::now();
        const double background = QualityGate::Background(frame);
        const FrameQuality quality =
            qualityGate.measure(reference, stars, found->pairs, background, 1);
        if (qualityGate.refusal(quality).isEmpty()) {
            qualityGate.stacked(background);
        }
        gate.push_back(ms(start, std::chrono::steady_clock::now()));
    }

    print("stack_ms_per_frame", median(work));
    print("stack_ms_slowest_frame", slowest);
    print("stack_display_ms", median(display));
    print("stack_frames_stacked", stack.stacked());
    print("stack_frames_rejected", stack.rejected());
    print("stack_memory_mb", after - before);
    print("gate_ms_per_frame", median(gate));
    return 0;
}
