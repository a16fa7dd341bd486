// A night's worth of frames without growth: 1,000 binned frames of 0 s on the simulated camera,
// auto-saved, in one run of "2x1 Binned". Prints `name value` lines: the growth of the resident
// size and of the open file descriptors from the end of frame 50 to the end of the run, the
// window timers still allocated when the run returns (before the main loop runs again), and the
// time a frame takes.
#include "SimulatedDesk.h"

#include "camera/LineStates.h"
#include "lines/LineMonitor.h"
#include "platform/Clock.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <unistd.h>

using namespace lumenvale;
using bench::Find;

namespace {

constexpr int Frames = 1000;
constexpr int SettledFrames = 50; // start-up allocations are over by then

double ResidentMb() {
    std::ifstream statm("/proc/self/statm");
    long sizePages = 0;
    long residentPages = 0;
    statm >> sizePages >> residentPages;
    return static_cast<double>(residentPages) * static_cast<double>(::sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

long OpenDescriptors() {
    std::error_code ec;
    return static_cast<long>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd", ec), {}));
}

struct Sample {
    double residentMb = 0.0;
    long descriptors = 0;
};

Sample Take() {
    return {ResidentMb(), OpenDescriptors()};
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    bench::SimulatedDesk desk;
    Form1& control = desk.control;
    Find<QLineEdit>(control, "Text2").setText(QStringLiteral("0"));
    Find<QLineEdit>(control, "Text3").setText(QString::number(Frames));
    Find<QCheckBox>(control, "Check5").setChecked(true);

    // Each frame starts with the pulse: the one after frame 50 takes the first sample. The
    // saved frames are removed as they come, so the run needs no gigabyte of disk.
    int pulses = 0;
    Sample settled;
    const std::filesystem::path saved = desk.work / "saved";
    desk.lines.subscribe([&](const LineWrite& write) {
        if (write.state != LinePulseStart) {
            return;
        }
        if (++pulses == SettledFrames + 1) {
            settled = Take();
        }
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(saved, ec)) {
            std::filesystem::remove(entry.path(), ec);
        }
    });

    const std::int32_t start = desk.clock.timeGetTime();
    Find<QPushButton>(control, "Command2").click();
    const std::int32_t end = desk.clock.timeGetTime();
    const Sample last = Take();
    const std::size_t timersAlive = desk.timers.allocatedCount();

    std::printf("frames %d\n", pulses);
    std::printf("messages %d\n", desk.messages.count);
    std::printf("rss_mb %.1f\n", last.residentMb);
    std::printf("rss_growth_mb %.2f\n", last.residentMb - settled.residentMb);
    std::printf("fd_growth %ld\n", last.descriptors - settled.descriptors);
    std::printf("timers_alive %zu\n", timersAlive);
    std::printf("ms_per_frame %.1f\n", static_cast<double>(TickDiff(end, start)) / Frames);
    return 0;
}
