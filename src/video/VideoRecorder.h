// Recording the camera's frames to a SER file. Frames are offered on the thread that receives
// them (the window's), cut to the region and queued; one worker thread writes them. A frame
// that finds the queue full is dropped and counted, so a slow disk never holds up the stream;
// gaps in the camera's own frame numbers are counted apart, as frames the camera dropped.
#pragma once

#include "frames/AcquiredFrame.h"
#include "video/SerWriter.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lumenvale {

class VideoRecorder {
public:
    struct Settings {
        bool mono = false;
        // The part of the picture kept, around `centre`; empty: the whole picture.
        QSize region;
        QPoint centre{AcquiredFrame::Width / 2, AcquiredFrame::Height / 2};
        // The recording takes no more frames after these; 0: no limit.
        int maxFrames = 0;
        double maxSeconds = 0;
        // Frames waiting for the disk before more are dropped.
        std::size_t queueFrames = 32;
        std::string observer;
        std::string instrument;
        std::string telescope;
    };

    struct Counts {
        int recorded = 0;      // taken into the recording
        int written = 0;       // on disk
        int dropped = 0;       // found the queue full
        int cameraDropped = 0; // missing from the camera's numbering
    };

    // Starts the file (its header) and the worker. Throws FileError naming `path`.
    VideoRecorder(const std::filesystem::path& path, std::unique_ptr<SerOutput> output,
                  const Settings& settings);
    // Stops as stop() does: closing the program leaves a finished file.
    ~VideoRecorder();
    VideoRecorder(const VideoRecorder&) = delete;
    VideoRecorder& operator=(const VideoRecorder&) = delete;

    // One frame from the camera: when it began (CLOCK_MONOTONIC microseconds, when known) and
    // the camera's number for it. Never waits for the disk. False once the recording takes no
    // more frames: its limit is reached, it failed, or it was stopped.
    bool offer(const AcquiredFrame& picture, std::optional<std::int64_t> startUs,
               std::uint32_t sequence);
    // Writes what is queued, then the frame count and the trailer. Once; afterwards and on
    // failure it returns what went wrong, naming the file.
    std::optional<std::string> stop();

    bool accepting() const { return accepting_; }
    Counts counts() const;
    // Why the recording ended early (the disk is full ...), naming the file.
    std::optional<std::string> failure() const;
    // Processor time spent recording, on the worker and in offer().
    double cpuSeconds() const;
    const std::filesystem::path& path() const { return path_; }
    QRect region() const { return region_; }
    std::size_t frameBytes() const { return writer_.frameBytes(); }

private:
    struct Item {
        std::vector<std::uint8_t> bytes;
        std::int64_t utcTicks = 0;
    };

    void work();
    std::int64_t utcTicks(std::optional<std::int64_t> startUs);

    std::filesystem::path path_;
    Settings settings_;
    QRect region_;
    SerWriter writer_;
    std::int64_t monotonicToUtcUs_ = 0;
    std::optional<std::int64_t> firstUs_;
    std::optional<std::uint32_t> lastSequence_;
    std::int64_t lastTicks_ = 0;
    bool accepting_ = true;
    bool stopped_ = false;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Item> queue_;
    std::vector<std::vector<std::uint8_t>> spare_;
    Counts counts_;
    std::optional<std::string> failure_;
    bool stopping_ = false;
    std::atomic<std::int64_t> workerCpuNs_{0};
    std::int64_t offerCpuNs_ = 0;
    std::thread worker_;
};

// The next free name for a video in `saveDir`, numbered as the saved frames are: baseName,
// then 001, 002 ..., then ".ser". Throws FileError as the frames' names do.
std::filesystem::path NextVideoPath(const std::string& saveDir, const QString& baseName);

} // namespace lumenvale
