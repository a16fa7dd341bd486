// Whole capture runs on the simulated camera, driven through the Control window's buttons:
// 10 binned and 5 hi-res frames of 0.2 s with auto-save. Prints `name value` lines: the
// exposure as the camera saw it beyond the time asked for, the time a binned frame takes beyond
// its exposure, and the share of one CPU the process used over both runs. Then, for each USB
// and GPIO adapter on its fake device with every write taking 1 ms as a USB round trip does,
// lines_<adapter>_exposure_error_ms: over 5 binned frames of 1 s, the median of the readout
// write minus the exposure-state write minus 1000, as the fake device's own clock saw them.
// "--load N" runs N spinning processes beside all of it. machine_stalls: the times the whole
// machine stopped for more than 20 ms (see StallWatch), and exposure_error_ms_max_unstalled the
// worst binned exposure that none of them overlapped.
#include "SimulatedDesk.h"

#ifdef LUMENVALE_FAKE_LINES
#include "support/FakeLineCalls.h"
#endif

#include "camera/LineStates.h"
#include "lines/LineMonitor.h"
#include "platform/Clock.h"
#include "ui/LiveStackWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "lines/CameraStates.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace lumenvale;
using bench::Find;

namespace {

constexpr int BinnedFrames = 10;
constexpr int HiresFrames = 5;
constexpr std::int32_t ExposureMs = 200;

double ProcessCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return -1.0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

// Processes that do nothing but spin until this one is done with them.
class BusyProcesses {
public:
    explicit BusyProcesses(int count) {
        for (int i = 0; i < count; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                volatile unsigned long turns = 0;
                for (;;) {
                    turns = turns + 1;
                }
            }
            if (pid > 0) {
                pids_.push_back(pid);
            }
        }
    }
    ~BusyProcesses() {
        for (const pid_t pid : pids_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    BusyProcesses(const BusyProcesses&) = delete;
    BusyProcesses& operator=(const BusyProcesses&) = delete;

private:
    std::vector<pid_t> pids_;
};

// A thread that sleeps 5 ms at a time and notes every gap of more than 20 ms between its
// wake-ups. On a virtual machine whose host caps its CPU time, a guest whose cores are all
// busy is stopped outright for up to a hundred milliseconds; an exposure that ends inside such
// a stop runs long by it, whatever the program does. These figures tell such runs apart.
class StallWatch {
public:
    // A stop, on the clock the line writes are stamped with (CLOCK_MONOTONIC milliseconds).
    struct Stall {
        std::int32_t from;
        std::int32_t to;
    };

    explicit StallWatch(const Clock& clock)
        : thread_([this, &clock] {
              constexpr std::int32_t GapMs = 20;
              std::int32_t last = clock.timeGetTime();
              while (!done_) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
                  const std::int32_t now = clock.timeGetTime();
                  if (TickDiff(now, last) > GapMs) {
                      const std::lock_guard<std::mutex> hold(mutex_);
                      stalls_.push_back({last, now});
                  }
                  last = now;
              }
          }) {}
    ~StallWatch() { stop(); }
    StallWatch(const StallWatch&) = delete;
    StallWatch& operator=(const StallWatch&) = delete;

    void stop() {
        done_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    std::vector<Stall> stalls() const {
        const std::lock_guard<std::mutex> hold(mutex_);
        return stalls_;
    }
    // Whether a stop overlapped the time from `from` to `to`.
    bool stalledWithin(std::int32_t from, std::int32_t to) const {
        const std::lock_guard<std::mutex> hold(mutex_);
        return std::any_of(stalls_.begin(), stalls_.end(), [&](const Stall& stall) {
            return TickDiff(stall.to, from) > 0 && TickDiff(to, stall.from) > 0;
        });
    }

private:
    std::atomic<bool> done_{false};
    mutable std::mutex mutex_;
    std::vector<Stall> stalls_;
    std::thread thread_;
};

#ifdef LUMENVALE_FAKE_LINES
void AdapterExposureErrors() {
    constexpr int Frames = 5;
    for (const LineAdapter adapter :
         {LineAdapter::Serial, LineAdapter::Lxusb, LineAdapter::Ftdi, LineAdapter::Gpio}) {
        test::FakeLineDevices fakes;
        test::FakeLineDevice& device = fakes.device(adapter);
        device.writeTime = std::chrono::milliseconds(1);
        const std::string path = test::FakeLineDevices::path(adapter);
        const LineMapping mapping = DefaultLineMapping(adapter);
        bench::SimulatedDesk desk(&fakes.calls, {adapter, path, mapping});
        Find<QLineEdit>(desk.control, "Text2").setText(QStringLiteral("1"));
        // "Amp off" makes the exposure state's outputs differ from every other state's.
        Find<QCheckBox>(desk.control, "Check4").setChecked(true);
        // A first frame, not counted, takes the simulated camera's and the dialog's first-use
        // costs, which would otherwise land between its exposure and its readout.
        Find<QLineEdit>(desk.control, "Text3").setText(QStringLiteral("1"));
        Find<QPushButton>(desk.control, "Command2").click();
        Find<QLineEdit>(desk.control, "Text3").setText(QString::number(Frames));
        device.history.clear();
        Find<QPushButton>(desk.control, "Command2").click();

        // The outputs of the exposure state and of the readout, as the adapter sets them.
        const unsigned exposing = test::FakeLineDevices::outputsFor(adapter, LineExposeAmpOff);
        const unsigned readout = test::FakeLineDevices::outputsFor(adapter, LineReadout);
        std::vector<double> errors;
        std::int64_t exposureUs = -1;
        for (const auto& change : device.history) {
            if (change.outputs == exposing) {
                exposureUs = change.us;
            } else if (change.outputs == readout && exposureUs >= 0) {
                errors.push_back(static_cast<double>(change.us - exposureUs) / 1000.0 - 1000.0);
                exposureUs = -1;
            }
        }
        const std::string name =
            std::string("lines_") + LineAdapterKey(adapter) + "_exposure_error_ms";
        std::printf("%s %.1f\n", name.c_str(), errors.size() == Frames ? Median(errors) : -1.0);
    }
}
#endif

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    bench::SimulatedDesk desk;
    const std::filesystem::path& work = desk.work;
    SystemClock& clock = desk.clock;
    LineMonitor& lines = desk.lines;
    Form1& control = desk.control;
    bench::PrintedMessages& messages = desk.messages;

    // "--live-stack": the same runs with the Live stack window open, stacking every frame on
    // its own thread; the figures must not move. "--load N": N processes spinning beside the
    // runs, as other work on a busy machine.
    bool liveStack = false;
    int loadProcesses = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--live-stack") == 0) {
            liveStack = true;
        } else if (std::strcmp(argv[i], "--load") == 0 && i + 1 < argc) {
            loadProcesses = std::atoi(argv[++i]);
        }
    }
    const BusyProcesses load(loadProcesses);
    StallWatch stalls(clock);
    LiveStackWindow stackWindow(work, [&] { return std::pair{std::string(), QString()}; });
    if (liveStack) {
        stackWindow.show();
        control.setRunWatcher(&stackWindow);
    }

    Find<QLineEdit>(control, "Text2").setText(QStringLiteral("0.2"));
    Find<QCheckBox>(control, "Check5").setChecked(true);

    const double cpuStart = ProcessCpuMs();
    const std::int32_t wallStart = clock.timeGetTime();

    lines.clearHistory();
    Find<QLineEdit>(control, "Text3").setText(QString::number(BinnedFrames));
    Find<QPushButton>(control, "Command2").click();
    const std::int32_t binnedEnd = clock.timeGetTime();
    const std::vector<LineWrite> binned = lines.history();

    lines.clearHistory();
    Find<QLineEdit>(control, "Text3").setText(QString::number(HiresFrames));
    Find<QLineEdit>(control, "Text4").setText(QStringLiteral("hires"));
    Find<QPushButton>(control, "Command3").click();
    const std::int32_t hiresEnd = clock.timeGetTime();
    const std::vector<LineWrite> hires = lines.history();

    const double cpuMs = ProcessCpuMs() - cpuStart;
    const double wallMs = TickDiff(hiresEnd, wallStart);

    // Each binned frame: 0x27, 0x37, 0x14, 0x34, exposure state, then the readout 0x37.
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < binned.size(); ++i) {
        if (binned[i].state == LinePulseStart) {
            starts.push_back(i);
        }
    }
    std::vector<double> exposureErrors;
    // The worst exposure of those that no stop of the whole machine overlapped.
    double unstalledMax = -1.0;
    int framesInStalls = 0;
    std::vector<double> overheads;
    std::vector<double> settles;      // pulse end to the first state after the settle wait
    std::vector<double> afterReadout; // readout write to the end of the frame
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t i = starts[k];
        if (i + 5 < binned.size()) {
            const double error = TickDiff(binned[i + 5].tick, binned[i + 4].tick) - ExposureMs;
            exposureErrors.push_back(error);
            if (stalls.stalledWithin(binned[i + 4].tick, binned[i + 5].tick)) {
                ++framesInStalls;
            } else {
                unstalledMax = std::max(unstalledMax, error);
            }
        }
        const std::int32_t end = k + 1 < starts.size() ? binned[starts[k + 1]].tick : binnedEnd;
        overheads.push_back(TickDiff(end, binned[i].tick) - ExposureMs);
        if (i + 5 < binned.size()) {
            settles.push_back(TickDiff(binned[i + 2].tick, binned[i + 1].tick));
            afterReadout.push_back(TickDiff(end, binned[i + 5].tick));
        }
    }
    std::size_t hiresFramesSeen = 0;
    for (const LineWrite& write : hires) {
        hiresFramesSeen += write.state == LinePulseStart ? 1 : 0;
    }
    std::size_t saved = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(work / "saved")) {
        ++saved;
    }

    std::printf("live_stack %d\n", liveStack ? 1 : 0);
    std::printf("load %d\n", loadProcesses);
    std::printf("binned_frames %zu\n", starts.size());
    std::printf("hires_frames %zu\n", hiresFramesSeen);
    std::printf("saved_files %zu\n", saved);
    std::printf("messages %d\n", messages.count);
    std::printf("exposure_error_ms %.1f\n", Median(exposureErrors));
    // The first frame of the run included: the dialog is built for it.
    std::printf("exposure_error_ms_first %.1f\n",
                exposureErrors.empty() ? -1.0 : exposureErrors[0]);
    std::printf("exposure_error_ms_max %.1f\n",
                exposureErrors.empty()
                    ? -1.0
                    : *std::max_element(exposureErrors.begin(), exposureErrors.end()));
    std::printf("exposure_error_ms_max_unstalled %.1f\n", unstalledMax);
    std::printf("frames_in_stalls %d\n", framesInStalls);
    std::printf("frame_overhead_ms %.1f\n", Median(overheads));
    std::printf("cpu_share %.3f\n", wallMs > 0 ? cpuMs / wallMs : -1.0);
    // Where a binned frame's overhead goes: the settle wait, and everything from the readout
    // write on (rest of the acquisition, copy, doubling, display, save).
    std::printf("settle_ms %.1f\n", Median(settles));
    std::printf("after_readout_ms %.1f\n", Median(afterReadout));
#ifdef LUMENVALE_FAKE_LINES
    AdapterExposureErrors();
#endif
    stalls.stop();
    const std::vector<StallWatch::Stall> seen = stalls.stalls();
    std::int32_t longest = 0;
    for (const StallWatch::Stall& stall : seen) {
        longest = std::max(longest, TickDiff(stall.to, stall.from));
    }
    std::printf("machine_stalls %zu\n", seen.size());
    std::printf("machine_stall_ms_max %d\n", longest);
    return 0;
}
