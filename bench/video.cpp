// Recording video from the emulated webcam (640 x 480 YUYV, converted as the live picture is):
// the whole picture in RGB at 30 frames a second, then a 320 x 240 region at 60, each for
// 60 s (or the seconds given as the first argument). For each: the frames the recording
// dropped (the queue full) and the camera's own drops, the processor time the recording takes
// as a share of one core (the writer thread and the window thread's part; converting the
// camera's picture is the stream's, not counted), and the rate written to disk.
// Prints "name value" lines: video_dropped_frames ... for the first, video_roi60_... for the
// second.
#include "BenchFigures.h"
#include "EmulatedWebcamPreload.h"

#include "acquisition/LibV4l2Calls.h"
#include "acquisition/WebcamStream.h"
#include "video/VideoRecorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

using namespace lumenvale;
using namespace lumenvale::bench;

namespace {

class Feed : public WebcamStream::Listener {
public:
    Feed(WebcamStream& stream, VideoRecorder& recorder) : stream_(stream), recorder_(recorder) {}

    void frameArrived(const WebcamStream::Frame& frame) override {
        if (!first) {
            first = std::chrono::steady_clock::now();
        }
        if (frame.intact && stream_.convert(frame, picture_)) {
            recorder_.offer(picture_, frame.startUs, frame.sequence);
        }
    }
    void streamFailed(const SourceFailure& failure) override {
        std::fprintf(stderr, "%s\n", qPrintable(failure.reason));
    }

    // When the first frame came: the recording's rates are over the time it ran.
    std::optional<Instant> first;

private:
    WebcamStream& stream_;
    VideoRecorder& recorder_;
    AcquiredFrame picture_;
};

int record(const std::filesystem::path& dir, const char* name, int fps, QSize region,
           double seconds) {
    using Configure = int (*)(const char*);
    const auto configure = reinterpret_cast<Configure>(dlsym(RTLD_DEFAULT, "emucam_configure"));
    const std::string settings = "FORMATS=YUYV;SIZES=640x480;FPS=" + std::to_string(fps);
    if (configure == nullptr || configure(settings.c_str()) != 0) {
        std::fprintf(stderr, "the emulated webcam is not preloaded\n");
        return 1;
    }
    VideoRecorder::Settings video;
    video.region = region;
    video.maxSeconds = seconds;
    const auto path = dir / (std::string("video-") + name + std::to_string(fps) + ".ser");
    VideoRecorder recorder(path, std::make_unique<SerFileOutput>(path), video);
    LibV4l2Calls calls;
    WebcamStream stream(calls);
    Feed feed(stream, recorder);
    stream.setListener(&feed);
    if (const auto failed = stream.open("/dev/video0", QStringLiteral("Emulated Webcam"))) {
        std::fprintf(stderr, "%s\n", qPrintable(failed->reason));
        return 1;
    }
    QElapsedTimer wall;
    wall.start();
    while (recorder.accepting() && wall.elapsed() < qint64(seconds * 1000) + 10000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    stream.setListener(nullptr);
    stream.close();
    if (const auto failure = recorder.stop()) {
        std::fprintf(stderr, "%s\n", failure->c_str());
        return 1;
    }
    if (!feed.first) {
        std::fprintf(stderr, "no frame came\n");
        return 1;
    }
    const double elapsed = ms(*feed.first, std::chrono::steady_clock::now()) / 1000.0;
    const auto counts = recorder.counts();
    // The first case's figures carry the plain names; the others say which case they are.
    const std::string prefix = std::string("video_") + (*name != 0 ? std::string(name) + "_" : "");
    print((prefix + "frames_written").c_str(), counts.written);
    print((prefix + "fps").c_str(), counts.written / elapsed);
    print((prefix + "dropped_frames").c_str(), counts.dropped);
    print((prefix + "camera_dropped_frames").c_str(), counts.cameraDropped);
    print((prefix + "cpu_share").c_str(), recorder.cpuSeconds() / elapsed);
    print((prefix + "write_mb_per_s").c_str(),
          double(std::filesystem::file_size(path)) / elapsed / 1e6);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    PreloadEmulatedWebcam(argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid() || seconds <= 0) {
        std::fprintf(stderr, "usage: lumenvale-bench-video [seconds]\n");
        return 1;
    }
    const std::filesystem::path root = dir.path().toStdString();
    if (const int failed = record(root, "", 30, {}, seconds)) {
        return failed;
    }
    return record(root, "roi60", 60, {320, 240}, seconds);
}
