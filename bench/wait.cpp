// How the exposure wait behaves on a real event loop: CPU share while it waits, how late it
// ends after its deadline, how often it refreshes the progress bar, and how soon it ends after
// a Stop-like event. Prints `name value` lines.
#include "acquisition/Acquisition.h"
#include "camera/CameraLines.h"
#include "camera/CaptureState.h"
#include "camera/ExposureTiming.h"
#include "camera/ProgressDisplay.h"
#include "camera/Services.h"
#include "lines/LineMonitor.h"
#include "lines/PpdevPort.h"
#include "lines/PpdevSyscalls.h"
#include "platform/Clock.h"
#include "platform/FileSystemObject.h"
#include "platform/Keystrokes.h"
#include "platform/MessagePump.h"
#include "platform/Messages.h"
#include "platform/WindowTimers.h"

#include <QApplication>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

using namespace lumenvale;

namespace {

std::int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

std::int64_t ProcessCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// The progress bar of the Control window, counting its refreshes.
class CountingProgress : public ProgressDisplay {
public:
    explicit CountingProgress(QProgressBar& bar) : bar_(bar) {}
    void setProgressMax(float max) override { bar_.setMaximum(static_cast<int>(max)); }
    void setProgressValue(float value) override {
        // What the user sees refreshed: a new value. The wait also sets the same value again
        // while it polls its last millisecond.
        if (static_cast<int>(value) != bar_.value()) {
            ++refreshes;
        }
        bar_.setValue(static_cast<int>(value));
    }
    long refreshes = 0;

private:
    QProgressBar& bar_;
};

class NoAcquisition : public Acquisition {
public:
    std::int32_t TWAIN_AcquireToFilename(QWidget*, const std::string&) override {
        return AcquireNoSource;
    }
    std::int32_t TWAIN_SelectImageSource(QWidget*) override { return 0; }
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Bench {
    SystemClock clock;
    LineMonitor lines;
    KernelPpdevSyscalls ppdev;
    PpdevPort port{lines, clock, ppdev};
    WindowTimers timers;
    QtKeystrokes keys;
    QtMessagePump pump;
    QtMessages messages;
    FileSystemObject files;
    NoAcquisition acquisition;
    Services services{clock, lines, port, timers, keys, pump, messages, files, acquisition};
    CaptureState state;
    CameraLines cameraLines{port, state, messages};
    ExposureTiming timing{state, services, cameraLines};
    QProgressBar bar;
    CountingProgress progress{bar};

    Bench() {
        bar.setObjectName(QStringLiteral("ProgressBar1"));
        bar.resize(300, 20);
        bar.show();
    }

    // Starts an exposure of `ms` now; returns the monotonic time at which the millisecond
    // clock reaches its end.
    std::int64_t Start(std::int32_t ms) {
        const std::int64_t nowMs = MonotonicNs() / 1'000'000;
        state.ExposureStart = static_cast<std::int32_t>(static_cast<std::uint32_t>(nowMs));
        state.ExposureMs = ms;
        progress.setProgressMax(static_cast<float>(ms));
        return (nowMs + ms) * 1'000'000;
    }
};

} // namespace

int main(int argc, char** argv) {
    // A measuring tool, not the program: it always runs without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Bench bench;
    // Warm up: the first paints of the bar load fonts and fill caches once per program run,
    // which is not what a long exposure costs per second.
    bench.Start(300);
    bench.timing.WaitForExposure(bench.progress);

    // CPU share and refresh rate over one 2 s exposure.
    bench.progress.refreshes = 0;
    const std::int64_t cpu0 = ProcessCpuNs();
    const std::int64_t wall0 = MonotonicNs();
    bench.Start(2000);
    bench.timing.WaitForExposure(bench.progress);
    const double wallNs = static_cast<double>(MonotonicNs() - wall0);
    const double cpuShare = static_cast<double>(ProcessCpuNs() - cpu0) / wallNs;
    const double progressHz = static_cast<double>(bench.progress.refreshes) / (wallNs / 1e9);

    // Overshoot: ten waits of slightly different lengths, so the deadline falls at different
    // points of the millisecond.
    std::vector<double> overshoots;
    for (int i = 0; i < 10; ++i) {
        const std::int64_t deadline = bench.Start(150 + 7 * i);
        bench.timing.WaitForExposure(bench.progress);
        overshoots.push_back(static_cast<double>(MonotonicNs() - deadline) / 1e6);
    }

    // Stop latency: another thread stands for the window system and queues a Stop-like event
    // part-way through a long exposure; the time runs from the queueing to the wait's return.
    std::vector<double> latencies;
    for (int i = 0; i < 10; ++i) {
        std::atomic<std::int64_t> postedAt{0};
        bench.Start(60'000);
        std::thread user([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100 + 13 * i));
            postedAt = MonotonicNs();
            QMetaObject::invokeMethod(
                &app, [&bench] { bench.state.ExposureMs = 0; }, Qt::QueuedConnection);
        });
        bench.timing.WaitForExposure(bench.progress);
        const std::int64_t returnedAt = MonotonicNs();
        user.join();
        latencies.push_back(static_cast<double>(returnedAt - postedAt) / 1e6);
    }

    std::printf("cpu_share %.4f\n", cpuShare);
    std::printf("overshoot_ms %.3f\n", Median(overshoots));
    std::printf("overshoot_max_ms %.3f\n", *std::max_element(overshoots.begin(), overshoots.end()));
    std::printf("progress_hz %.1f\n", progressHz);
    std::printf("stop_latency_ms %.3f\n", Median(latencies));
    std::printf("stop_latency_max_ms %.3f\n",
                *std::max_element(latencies.begin(), latencies.end()));
    return 0;
}
