// Timing of the acquisition dialog on the simulated camera, as a binned frame uses it: how soon
// the caller's 1 ms readout timer ticks once the call is made (every millisecond lengthens the
// exposure), and how soon after the Return keystroke the call returns with the file written.
// Prints "name value" lines: medians over 20 calls, and the slowest call.
#include "BenchFigures.h"

#include "platform/Clock.h"
#include "platform/Keystrokes.h"
#include "platform/LineMonitor.h"
#include "platform/WindowTimers.h"
#include "platform/acquisition/AcquisitionLibrary.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

using namespace lumenvale;
using namespace lumenvale::bench;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    const std::filesystem::path root = dir.path().toStdString();

    AcquisitionConfig simulated;
    simulated.source = AcquisitionConfig::Source::Simulated;
    AcquisitionOptions options;
    options.configFile = root / "acquisition.ini";
    options.deviceDirectory = root;
    options.failureLingerMs = 0;
    if (!simulated.save(options.configFile)) {
        std::fprintf(stderr, "cannot write %s\n", options.configFile.c_str());
        return 1;
    }

    LineMonitor lines;
    SystemClock clock;
    AcquisitionLibrary library(lines, clock, options);
    WindowTimers timers;
    QtKeystrokes keys;
    QWidget window;
    const std::string file = (root / "temp.bmp").string();

    constexpr int Warmup = 2;
    constexpr int Calls = 20;
    std::vector<double> starts;
    std::vector<double> acquires;
    for (int call = 0; call < Warmup + Calls; ++call) {
        const std::int32_t now = clock.timeGetTime();
        for (const std::uint8_t state : {0x27, 0x37, 0x14, 0x34, 0x34}) {
            lines.publish({TickAdd(now, -1000), state});
        }
        bool ticked = false;
        Instant tick{};
        Instant key{};
        timers.SetTimer(&window, 0, 1, [&](QWidget*, unsigned, std::uintptr_t, std::uint32_t) {
            if (ticked) {
                return;
            }
            ticked = true;
            tick = std::chrono::steady_clock::now();
            lines.publish({clock.timeGetTime(), 0x37});
            key = std::chrono::steady_clock::now();
            keys.SendEnter();
        });
        const Instant called = std::chrono::steady_clock::now();
        const std::int32_t result = library.TWAIN_AcquireToFilename(&window, file);
        const Instant returned = std::chrono::steady_clock::now();
        timers.KillTimer(&window, 0);
        std::error_code ec;
        if (result != AcquireOk || !ticked || std::filesystem::file_size(file, ec) != 921654) {
            std::fprintf(stderr, "call %d failed: %d\n", call, result);
            return 1;
        }
        if (call >= Warmup) {
            starts.push_back(ms(called, tick));
            acquires.push_back(ms(key, returned));
        }
    }
    print("dialog_start_ms", median(starts));
    print("acquire_ms", median(acquires));
    print("dialog_start_ms_max", *std::max_element(starts.begin(), starts.end()));
    print("acquire_ms_max", *std::max_element(acquires.begin(), acquires.end()));
    return 0;
}
