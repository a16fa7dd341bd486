// The recording's two sides: offer() on the window's thread, work() on the writer's.
#include "video/VideoRecorder.h"

#include "frames/SequenceSave.h"
#include "platform/Errors.h"
#include "video/VideoFrame.h"

#include <ctime>
#include <limits>

namespace lumenvale {

namespace {

std::int64_t clockUs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return std::int64_t(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

std::int64_t threadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

SerWriter::Format formatFor(const VideoRecorder::Settings& settings, const QRect& region) {
    SerWriter::Format format;
    format.width = region.width();
    format.height = region.height();
    format.colour = settings.mono ? SerWriter::Mono : SerWriter::Rgb;
    format.observer = settings.observer;
    format.instrument = settings.instrument;
    format.telescope = settings.telescope;
    format.startUtcTicks = SerWriter::UtcTicksNow();
    format.startLocalTicks = SerWriter::LocalTicks(format.startUtcTicks);
    return format;
}

} // namespace

VideoRecorder::VideoRecorder(const std::filesystem::path& path, std::unique_ptr<SerOutput> output,
                             const Settings& settings)
    : path_(path), settings_(settings), region_(VideoRegion(settings.region, settings.centre)),
      writer_(path, std::move(output), formatFor(settings, region_)) {
    // The camera stamps its frames on the monotonic clock; the file wants UTC.
    monotonicToUtcUs_ = clockUs(CLOCK_REALTIME) - clockUs(CLOCK_MONOTONIC);
    worker_ = std::thread([this] { work(); });
}

VideoRecorder::~VideoRecorder() {
    stop();
}

bool VideoRecorder::offer(const AcquiredFrame& picture, std::optional<std::int64_t> startUs,
                          std::uint32_t sequence) {
    if (!accepting_) {
        return false;
    }
    const std::int64_t cpuStart = threadCpuNs();
    std::int64_t frameUs = startUs.value_or(clockUs(CLOCK_MONOTONIC));
    if (!firstUs_) {
        firstUs_ = frameUs;
    }
    if (settings_.maxSeconds > 0 && double(frameUs - *firstUs_) >= settings_.maxSeconds * 1e6) {
        accepting_ = false;
        return false;
    }
    int missing = 0;
    // A number that goes back is a stream started again, not frames lost.
    if (lastSequence_ && sequence > *lastSequence_) {
        missing = int(sequence - *lastSequence_ - 1);
    }
    lastSequence_ = sequence;

    std::unique_lock lock(mutex_);
    counts_.cameraDropped += missing;
    if (failure_) {
        accepting_ = false;
        return false;
    }
    if (queue_.size() >= settings_.queueFrames) {
        ++counts_.dropped;
        return true;
    }
    Item item;
    if (!spare_.empty()) {
        item.bytes = std::move(spare_.back());
        spare_.pop_back();
    }
    lock.unlock();
    CutVideoFrame(picture, region_, settings_.mono, item.bytes);
    item.utcTicks = utcTicks(startUs ? startUs : std::optional<std::int64_t>(frameUs));
    lock.lock();
    queue_.push_back(std::move(item));
    ++counts_.recorded;
    if (settings_.maxFrames > 0 && counts_.recorded >= settings_.maxFrames) {
        accepting_ = false;
    }
    lock.unlock();
    wake_.notify_one();
    offerCpuNs_ += threadCpuNs() - cpuStart;
    return accepting_;
}

std::int64_t VideoRecorder::utcTicks(std::optional<std::int64_t> startUs) {
    std::int64_t ticks = SerWriter::UnixEpochTicks + (*startUs + monotonicToUtcUs_) * 10;
    // Stackers order frames by these; two frames never share one.
    if (ticks <= lastTicks_) {
        ticks = lastTicks_ + 1;
    }
    lastTicks_ = ticks;
    return ticks;
}

void VideoRecorder::work() {
    const std::int64_t cpuStart = threadCpuNs();
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            break;
        }
        Item item = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        std::optional<std::string> failed;
        try {
            writer_.add(item.bytes.data(), item.utcTicks);
        } catch (const FileError& error) {
            failed = error.what();
        }
        workerCpuNs_ = threadCpuNs() - cpuStart;
        lock.lock();
        spare_.push_back(std::move(item.bytes));
        if (failed) {
            failure_ = failed;
            queue_.clear();
            break;
        }
        ++counts_.written;
    }
}

std::optional<std::string> VideoRecorder::stop() {
    if (!stopped_) {
        stopped_ = true;
        accepting_ = false;
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        worker_.join();
        try {
            writer_.finish();
        } catch (const FileError& error) {
            if (!failure_) {
                failure_ = error.what();
            }
        }
    }
    return failure();
}

VideoRecorder::Counts VideoRecorder::counts() const {
    const std::lock_guard lock(mutex_);
    return counts_;
}

std::optional<std::string> VideoRecorder::failure() const {
    const std::lock_guard lock(mutex_);
    return failure_;
}

double VideoRecorder::cpuSeconds() const {
    return double(workerCpuNs_ + offerCpuNs_) / 1e9;
}

std::filesystem::path NextVideoPath(const std::string& saveDir, const QString& baseName) {
    std::filesystem::path path;
    for (int number = 1; number <= std::numeric_limits<std::int16_t>::max(); ++number) {
        path =
            SequenceFramePath(std::int16_t(number), 1, saveDir, baseName).replace_extension(".ser");
        if (!std::filesystem::exists(path)) {
            return path;
        }
    }
    throw FileError(path, "every number for a video of this name is taken");
}

} // namespace lumenvale
