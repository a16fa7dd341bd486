// Timing of the acquisition dialog as a binned frame uses it. On the simulated camera: how soon
// the caller's 1 ms readout timer ticks once the call is made (every millisecond lengthens the
// exposure), and how soon after the Return keystroke the call returns with the file written;
// medians over 20 calls, and the slowest call. Then on the emulated webcam (STREAMON 250 ms, the
// first frame 300 ms later, 10 frames a second), through the Control window: 5 binned frames of
// 1 s, with the exposure as the lines show it, the dialog's start, the time from the readout
// write to the file, and the longest the event loop stood still while the camera streamed; the
// same run again with a kept set of the camera's own controls applied at every stream opening,
// and the time that applying takes (the median of 10 openings, each setting every value anew).
// Prints "name value" lines.
#include "BenchFigures.h"
#include "EmulatedWebcamPreload.h"
#include "SimulatedDesk.h"

#include "acquisition/AcquisitionLibrary.h"
#include "acquisition/CameraControls.h"
#include "acquisition/LibV4l2Calls.h"
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
#include "settings/SettingsFile.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/ProgramState.h"
#include "ui/QtFileDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace lumenvale;
using namespace lumenvale::bench;

namespace {

int simulatedCase(const std::filesystem::path& root) {
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
    LibV4l2Calls v4l2;
    AcquisitionLibrary library(lines, clock, v4l2, options);
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
            keys.sendEnter();
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

// The acquisition library as the Control window calls it, timed from outside.
class TimedAcquisition : public Acquisition {
public:
    explicit TimedAcquisition(Acquisition& library) : library_(library) {}

    std::int32_t TWAIN_AcquireToFilename(QWidget* parent, const std::string& fileName) override {
        const Instant called = std::chrono::steady_clock::now();
        // Runs at the first turn of the dialog's own event loop.
        QTimer::singleShot(
            0, [this, called] { starts.push_back(ms(called, std::chrono::steady_clock::now())); });
        const std::int32_t result = library_.TWAIN_AcquireToFilename(parent, fileName);
        returnedUs.push_back(SystemClock().monotonicUs());
        return result;
    }
    std::int32_t TWAIN_SelectImageSource(QWidget* parent) override {
        return library_.TWAIN_SelectImageSource(parent);
    }
    void openSource() override { library_.openSource(); }
    void closeSource() override { library_.closeSource(); }
    void prepareDialog(QWidget* parent) override { library_.prepareDialog(parent); }

    std::vector<double> starts;
    std::vector<std::int64_t> returnedUs;

private:
    Acquisition& library_;
};

bool configureWebcam(const std::filesystem::path& log) {
    using Configure = int (*)(const char*);
    const auto configure = reinterpret_cast<Configure>(dlsym(RTLD_DEFAULT, "emucam_configure"));
    return configure != nullptr &&
           configure(("FORMATS=YUYV;SIZES=640x480;STREAMON_MS=250;FIRST_FRAME_MS=300;FPS=10;LOG=" +
                      log.string())
                         .c_str()) == 0;
}

// A kept set for every control the camera lets be set, each away from its present value when
// `flip` (so every one is a request), with its frame interval: the set a user leaves.
KeptCameraSettings keptSet(CameraControlSet& camera, bool flip) {
    KeptCameraSettings kept;
    kept.prepared = true;
    for (const CameraControl& control : camera.controls()) {
        if (!control.settable() || control.kind == CameraControl::Kind::Button) {
            continue;
        }
        std::int64_t value = control.value;
        if (flip) {
            value = control.value == control.maximum ? control.minimum : control.maximum;
            if (!control.choices.empty()) {
                value = control.choices.front().value == control.value
                            ? control.choices.back().value
                            : control.choices.front().value;
            }
        }
        kept.values[control.id] = value;
    }
    if (const auto intervals = camera.frameIntervals(); !intervals.empty()) {
        kept.interval = flip ? intervals.front() : intervals.back();
    }
    return kept;
}

// How long applying a kept set takes at a stream's opening, where it delays the first frame.
// `lastSet` gets the values the last opening left, away from the camera's defaults.
int controlsCase(const std::filesystem::path& root, KeptCameraSettings& lastSet) {
    if (!configureWebcam(root / "controls.log")) {
        return 1;
    }
    LibV4l2Calls v4l2;
    WebcamStream stream(v4l2);
    std::vector<double> applying;
    std::size_t applied = 0;
    bool flip = false;
    stream.setOnOpening([&](WebcamStream& opening) {
        V4l2ControlSet camera = opening.controls();
        KeptCameraSettings kept = keptSet(camera, flip = !flip);
        applied = kept.values.size() + (kept.interval ? 1 : 0);
        const Instant start = std::chrono::steady_clock::now();
        const AppliedSettings result = ApplyKeptSettings(camera, kept);
        applying.push_back(ms(start, std::chrono::steady_clock::now()));
        if (!result.refused.empty()) {
            std::fprintf(stderr, "refused: %s\n", qPrintable(result.refused.front()));
        }
        lastSet = keptSet(camera, false);
    });
    for (int open = 0; open < 10; ++open) {
        if (const auto failed = stream.open("/dev/video0", QStringLiteral("Emulated Webcam"))) {
            std::fprintf(stderr, "%s\n", qPrintable(failed->reason));
            return 1;
        }
        stream.close();
    }
    print("controls_applied", double(applied));
    print("controls_apply_ms", median(applying));
    return 0;
}

// A Binned run of 5 frames of 1 s through the Control window; with `kept`, the camera's
// controls kept as given, applied at the stream's opening.
int webcamCase(const std::filesystem::path& root, const KeptCameraSettings* kept) {
    std::filesystem::remove(root / "emucam.log");
    if (!configureWebcam(root / "emucam.log")) {
        std::fprintf(stderr, "the emulated webcam is not preloaded: no webcam case\n");
        return 1;
    }
    const std::filesystem::path work = root / (kept != nullptr ? "webcam-controls" : "webcam");
    std::filesystem::create_directories(work / "saved");
    Settings settings = DefaultSettings();
    settings.SaveDir = (work / "saved").string();
    SaveSettings(work / SettingsFileName, settings);
    AcquisitionConfig webcam;
    webcam.source = AcquisitionConfig::Source::V4l2;
    webcam.devicePath = "/dev/video0";
    webcam.deviceName = QStringLiteral("Emulated Webcam");
    if (kept != nullptr) {
        LibV4l2Calls calls;
        WebcamStream stream(calls);
        stream.setOnOpening(
            [&](WebcamStream& opening) { webcam.cameras[opening.identity().key()] = *kept; });
        if (stream.open("/dev/video0", webcam.deviceName)) {
            return 1;
        }
    }
    AcquisitionOptions options;
    options.configFile = work / "acquisition.ini";
    if (!webcam.save(options.configFile)) {
        return 1;
    }

    SystemClock clock;
    LineMonitor lines;
    KernelPpdevSyscalls ppdev;
    PpdevPort port(lines, clock, ppdev); // the emulated camera port
    WindowTimers timers;
    QtKeystrokes keys;
    QtMessagePump pump;
    PrintedMessages messages;
    FileSystemObject files;
    LibV4l2Calls v4l2;
    AcquisitionLibrary library(lines, clock, v4l2, options);
    TimedAcquisition acquisition(library);
    Services services{clock, lines, port, timers, keys, pump, messages, files, acquisition};
    ProgramState program;
    QtFileDialogs dialogs;
    Form2 viewer(program, messages, dialogs, QPixmap(), work / SettingsFileName);
    viewer.show();
    Form1 control(program, services, viewer, QPixmap(), work);
    control.show();

    // The event loop's turns, from the first line write of the run to its end.
    constexpr int TickMs = 2;
    bool running = false;
    Instant lastTurn{};
    double longestStall = 0;
    QTimer turns;
    turns.setTimerType(Qt::PreciseTimer);
    QObject::connect(&turns, &QTimer::timeout, [&] {
        const Instant now = std::chrono::steady_clock::now();
        if (running) {
            longestStall = std::max(longestStall, ms(lastTurn, now) - TickMs);
        }
        lastTurn = now;
    });
    lines.subscribe([&](const LineWrite& write) {
        if (!running && write.state == 0x27) {
            running = true;
            lastTurn = std::chrono::steady_clock::now();
        }
    });
    turns.start(TickMs);

    constexpr int Frames = 5;
    lines.clearHistory();
    Find<QLineEdit>(control, "Text2").setText(QStringLiteral("1"));
    Find<QLineEdit>(control, "Text3").setText(QString::number(Frames));
    Find<QCheckBox>(control, "Check5").setChecked(true);
    Find<QPushButton>(control, "Command2").click();
    running = false;

    // Each frame: 0x27, 0x37, 0x14, 0x34, exposure state, then the readout 0x37.
    const std::vector<LineWrite> history = lines.history();
    std::vector<double> errors;
    std::vector<double> toFile;
    for (std::size_t i = 0, frame = 0; i + 5 < history.size(); ++i) {
        if (history[i].state != 0x27) {
            continue;
        }
        const double exposureUs = double(history[i + 5].monotonicUs - history[i + 4].monotonicUs);
        errors.push_back(exposureUs / 1000.0 - 1000.0);
        if (frame < acquisition.returnedUs.size()) {
            toFile.push_back(double(acquisition.returnedUs[frame] - history[i + 5].monotonicUs) /
                             1000.0);
        }
        ++frame;
    }
    std::size_t saved = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(work / "saved")) {
        ++saved;
    }
    control.close();
    viewer.close();
    if (errors.size() != Frames || saved != Frames || acquisition.starts.size() != Frames) {
        std::fprintf(stderr, "webcam run: %zu frames, %zu saved\n", errors.size(), saved);
        return 1;
    }
    // The camera runs free: its exposure frame starts up to one interval after the readout
    // write and is whole one interval later. What is ours is the time from its end to the file.
    std::vector<double> endToFile;
    std::ifstream log(root / "emucam.log");
    std::size_t frame = 0;
    for (std::string line; std::getline(log, line) && frame < acquisition.returnedUs.size();) {
        const auto end = line.find(" end=");
        if (line.find(" frame ") == std::string::npos || end == std::string::npos ||
            line.find("exposure=yes") == std::string::npos ||
            line.find(" delivered") == std::string::npos) {
            continue;
        }
        const std::int64_t endUs = std::stoll(line.substr(end + 5));
        endToFile.push_back(double(acquisition.returnedUs[frame++] - endUs) / 1000.0);
    }
    if (kept != nullptr) {
        print("webcam_exposure_error_ms_with_controls", median(errors));
        return 0;
    }
    print("webcam_exposure_error_ms", median(errors));
    print("webcam_dialog_start_ms", median(acquisition.starts));
    print("webcam_readout_to_file_ms", median(toFile));
    print("webcam_longest_stall_ms", longestStall);
    if (!endToFile.empty()) {
        print("webcam_frame_end_to_file_ms", median(endToFile));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // The webcam case runs on the emulated webcam.
    PreloadEmulatedWebcam(argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    const std::filesystem::path root = dir.path().toStdString();
    if (const int failed = simulatedCase(root)) {
        return failed;
    }
    if (const int failed = webcamCase(root, nullptr)) {
        return failed;
    }
    KeptCameraSettings kept;
    if (const int failed = controlsCase(root, kept)) {
        return failed;
    }
    return webcamCase(root, &kept);
}
