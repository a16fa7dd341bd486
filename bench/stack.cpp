// Timing and memory of the live stack on the simulated camera's binned frames, the
// stars drifting from frame to frame: the work of one frame (dark subtraction, hot pixels, star
// finding, alignment, adding) and of showing the stack (stretch, picture and histogram), and the
// memory the stack takes. Prints "name value" lines: medians over the frames, the slowest frame,
// how many frames were stacked, and the memory in megabytes.
#include "BenchFigures.h"

#include "acquisition/simulated/SimulatedCamera.h"
#include "analysis/FloatPicture.h"
#include "analysis/LiveStack.h"
#include "analysis/MasterDark.h"
#include "analysis/MidtonesStretch.h"
#include "analysis/StackStretch.h"
#include "lines/LineMonitor.h"

#include <QGuiApplication>
#include <QPixmap>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
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
    LiveStack stack;
    std::vector<double> work;
    std::vector<double> display;
    double slowest = 0;
    QPixmap shown;
    const StackStretch stretch;
    StackStretch::Histogram histogram;
    for (const QImage& light : lights) {
        const Instant start = std::chrono::steady_clock::now();
        stack.add(FloatPicture::FromImage(light), &dark, ExposureMs / 1000.0);
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

    print("stack_ms_per_frame", median(work));
    print("stack_ms_slowest_frame", slowest);
    print("stack_display_ms", median(display));
    print("stack_frames_stacked", stack.stacked());
    print("stack_frames_rejected", stack.rejected());
    print("stack_memory_mb", after - before);
    return 0;
}
