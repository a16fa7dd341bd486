// Recording video to SER files: every way a recording ends leaves a file the stackers read, a
// full queue drops frames without holding up the stream, and a recording from the emulated
// webcam holds exactly the frames and times the camera sent.
#include "support/FrameFixtures.h"
#include "support/SerReader.h"
#include "support/emulated_webcam/EmulatedWebcamControl.h"

#include "acquisition/LibV4l2Calls.h"
#include "acquisition/WebcamStream.h"
#include "platform/Errors.h"
#include "video/VideoRecorder.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <mutex>

using namespace lumenvale;
using namespace lumenvale::test;

namespace {

// A frame whose every byte tells its number and place.
AcquiredFrame patterned(int number) {
    AcquiredFrame frame;
    for (int row = 0; row < AcquiredFrame::Height; ++row) {
        for (std::size_t i = 0; i < AcquiredFrame::RowBytes; ++i) {
            frame.storedRow(row)[i] = std::uint8_t(number * 7 + row * 3 + int(i));
        }
    }
    return frame;
}

// The file on a disk that holds `capacity` bytes; `gate`, when set, holds every frame's write
// until opened.
class SmallDisk : public SerFileOutput {
public:
    SmallDisk(const std::filesystem::path& path, std::uint64_t capacity)
        : SerFileOutput(path), capacity_(capacity) {}

    int append(const std::uint8_t* bytes, std::size_t size) override {
        {
            std::unique_lock lock(mutex_);
            if (gated_ && size > SerWriter::HeaderBytes) {
                waiting_ = true;
                changed_.notify_all();
                changed_.wait(lock, [this] { return !gated_; });
            }
        }
        const std::size_t room = std::size_t(std::min<std::uint64_t>(capacity_ - size_, size));
        if (SerFileOutput::append(bytes, room) == 0) {
            size_ += room;
        }
        return room < size ? ENOSPC : 0;
    }
    int truncate(std::uint64_t size) override {
        size_ = size;
        return SerFileOutput::truncate(size);
    }

    void closeGate() { gated_ = true; }
    void waitForAWrite() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return waiting_; });
    }
    void openGate() {
        const std::lock_guard lock(mutex_);
        gated_ = false;
        changed_.notify_all();
    }

private:
    std::uint64_t capacity_;
    std::uint64_t size_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool gated_ = false;
    bool waiting_ = false;
};

constexpr std::uint64_t Unlimited = std::uint64_t(1) << 40;

// Empty when `frame` (from the file) holds `cut` of `sent` as a SER frame does: pixel (x, y)
// from the picture's top line down, red, green, blue or the grey level; else the first pixel
// that differs. The frame holds the bottom line first, blue, green, red.
std::string cutDiffers(const AcquiredFrame& sent, const std::vector<std::uint8_t>& frame,
                       const QRect& cut, bool mono) {
    if (frame.size() != std::size_t(cut.width() * cut.height() * (mono ? 1 : 3))) {
        return "a frame of " + std::to_string(frame.size()) + " bytes";
    }
    for (int y = 0; y < cut.height(); ++y) {
        const std::uint8_t* row = sent.storedRow(AcquiredFrame::Height - 1 - (cut.top() + y));
        for (int x = 0; x < cut.width(); ++x) {
            const std::uint8_t* bgr = row + 3 * (cut.left() + x);
            const std::size_t at = std::size_t(y * cut.width() + x);
            const bool same =
                mono ? frame[at] == std::lround(0.299 * bgr[2] + 0.587 * bgr[1] + 0.114 * bgr[0])
                     : frame[3 * at] == bgr[2] && frame[3 * at + 1] == bgr[1] &&
                           frame[3 * at + 2] == bgr[0];
            if (!same) {
                return "differs at " + std::to_string(x) + ", " + std::to_string(y);
            }
        }
    }
    return {};
}

} // namespace

TEST(VideoRecorderTest, EveryEndLeavesAValidFileOfTheFramesWritten) {
    // 160 x 120 RGB frames of 57,600 bytes after the 178-byte header.
    constexpr std::uint64_t Frame = 160 * 120 * 3;
    struct Case {
        const char* name;
        std::uint64_t disk;
        bool destroyed; // the program closed instead of Stop
        int written;
        bool trailer;
        bool mono;
        QPoint centre;
        QRect cut;
    };
    const QPoint middle(320, 240);
    const QRect cutMiddle(240, 180, 160, 120);
    const Case cases[] = {
        {"stopped", Unlimited, false, 5, true, false, middle, cutMiddle},
        {"program closed, mono, clicked in a corner",
         Unlimited,
         true,
         5,
         true,
         true,
         {10, 470},
         {0, 360, 160, 120}},
        {"disk full, room for the trailer", 178 + 3 * Frame + Frame / 2, false, 3, true, false,
         middle, cutMiddle},
        {"disk full, no room for the trailer", 178 + 3 * Frame + 10, false, 3, false, false, middle,
         cutMiddle},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const auto path = dir / "jupiter001.ser";
        VideoRecorder::Settings settings;
        settings.region = QSize(160, 120);
        settings.centre = c.centre;
        settings.mono = c.mono;
        settings.observer = "an observer";
        std::optional<VideoRecorder> recorder;
        recorder.emplace(path, std::make_unique<SmallDisk>(path, c.disk), settings);
        // The camera's numbers skip 3 and 4: two frames it dropped.
        const std::uint32_t sequences[] = {0, 1, 2, 5, 6};
        for (int i = 0; i < 5; ++i) {
            // A full disk may end the recording before the last frames are offered.
            recorder->offer(patterned(i), 1'000'000 + i * 33'333, sequences[i]);
        }
        std::optional<std::string> failure;
        VideoRecorder::Counts counts;
        if (c.destroyed) {
            counts = recorder->counts();
            recorder.reset();
        } else {
            failure = recorder->stop();
            counts = recorder->counts();
            EXPECT_FALSE(recorder->offer(patterned(9), 2'000'000, 9)) << "after Stop";
        }
        EXPECT_EQ(counts.cameraDropped, 2);
        EXPECT_EQ(counts.dropped, 0);
        if (c.disk != Unlimited) {
            ASSERT_TRUE(failure);
            EXPECT_NE(failure->find(path.string()), std::string::npos) << *failure;
            EXPECT_NE(failure->find("after 3 frames"), std::string::npos) << *failure;
            EXPECT_EQ(counts.written, 3);
        } else {
            EXPECT_FALSE(failure) << *failure;
        }
        std::string why;
        const auto ser = ReadSer(path, why);
        ASSERT_TRUE(ser) << why;
        EXPECT_EQ(ser->frameCount, c.written);
        EXPECT_EQ(ser->observer, "an observer");
        EXPECT_EQ(ser->trailer.size(), c.trailer ? std::size_t(c.written) : 0U);
        for (int i = 0; i < c.written; ++i) {
            EXPECT_EQ(cutDiffers(patterned(i), ser->frames[std::size_t(i)], c.cut, c.mono), "")
                << "frame " << i;
        }
    }
}

TEST(VideoRecorderTest, DropsWhatTheQueueCannotHoldWithoutWaitingForTheDisk) {
    ScratchDir dir;
    const auto path = dir / "moon001.ser";
    VideoRecorder::Settings settings;
    settings.region = QSize(160, 120);
    settings.queueFrames = 1;
    auto disk = std::make_unique<SmallDisk>(path, Unlimited);
    SmallDisk& slow = *disk;
    slow.closeGate();
    VideoRecorder recorder(path, std::move(disk), settings);
    recorder.offer(patterned(0), 0, 0);
    slow.waitForAWrite(); // the writer is stuck on frame 0
    for (int i = 1; i <= 4; ++i) {
        EXPECT_TRUE(recorder.offer(patterned(i), i * 33'333, std::uint32_t(i)));
    }
    slow.openGate();
    EXPECT_FALSE(recorder.stop());
    const auto counts = recorder.counts();
    EXPECT_EQ(counts.recorded, 2);
    EXPECT_EQ(counts.written, 2);
    EXPECT_EQ(counts.dropped, 3);
    EXPECT_EQ(counts.cameraDropped, 0) << "the queue's drops are not the camera's";
    std::string why;
    const auto ser = ReadSer(path, why);
    ASSERT_TRUE(ser) << why;
    EXPECT_EQ(ser->frameCount, 2);

    // The next video takes the next number, as the saved frames do.
    EXPECT_EQ(NextVideoPath(dir.path().string(), "moon"), dir / "moon002.ser");
}

namespace {

// The webcam's frames as the Video window takes them: each intact one converted, kept for the
// test and offered to the recording.
class Feed : public WebcamStream::Listener {
public:
    Feed(WebcamStream& stream, VideoRecorder& recorder) : stream_(stream), recorder_(recorder) {}

    void frameArrived(const WebcamStream::Frame& frame) override {
        AcquiredFrame picture;
        if (!recorder_.accepting() || !frame.intact || !stream_.convert(frame, picture)) {
            return;
        }
        if (recorder_.offer(picture, frame.startUs, frame.sequence) || !recorder_.accepting()) {
            sent.push_back(picture);
            startUs.push_back(frame.startUs.value_or(-1));
        }
    }
    void streamFailed(const SourceFailure& failure) override {
        ADD_FAILURE() << failure.reason.toStdString();
    }

    std::vector<AcquiredFrame> sent;
    std::vector<std::int64_t> startUs;

private:
    WebcamStream& stream_;
    VideoRecorder& recorder_;
};

} // namespace

TEST(VideoWebcamTest, RecordsTheFramesAndTimesTheCameraSent) {
    if (!EmulatedWebcamPreloaded()) {
        GTEST_SKIP() << "runs on the emulated webcam (ctest preloads it)";
    }
    ASSERT_TRUE(ConfigureEmulatedWebcam("FORMATS=YUYV;FPS=30"));
    constexpr int Frames = 8;
    struct Case {
        const char* name;
        bool mono;
        QSize region;
        QPoint centre;
        QRect cut; // where the file's frames come from
    };
    const Case cases[] = {
        {"whole picture, RGB", false, {}, {}, {0, 0, 640, 480}},
        {"320 x 240 clicked near a corner, RGB", false, {320, 240}, {600, 30}, {320, 0, 320, 240}},
        {"160 x 120, mono", true, {160, 120}, {100, 300}, {20, 240, 160, 120}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const auto path = dir / "saturn001.ser";
        VideoRecorder::Settings settings;
        settings.mono = c.mono;
        settings.region = c.region;
        settings.centre = c.centre;
        settings.maxFrames = Frames;
        settings.telescope = "C8";
        const std::int64_t before = SerWriter::UtcTicksNow();
        VideoRecorder recorder(path, std::make_unique<SerFileOutput>(path), settings);
        LibV4l2Calls calls;
        WebcamStream stream(calls);
        Feed feed(stream, recorder);
        stream.setListener(&feed);
        const auto failure = stream.open("/dev/video0", "emulated");
        ASSERT_FALSE(failure) << failure->reason.toStdString();
        QElapsedTimer waited;
        waited.start();
        while (recorder.accepting() && waited.elapsed() < 20000) {
            QTest::qWait(10);
        }
        stream.setListener(nullptr);
        stream.close();
        ASSERT_FALSE(recorder.stop());
        EXPECT_EQ(recorder.counts().dropped, 0);

        std::string why;
        const auto ser = ReadSer(path, why);
        ASSERT_TRUE(ser) << why;
        EXPECT_EQ(ser->fileId, "LUCAM-RECORDER");
        EXPECT_EQ(ser->luId, 0);
        EXPECT_EQ(ser->colourId, c.mono ? 0 : 100);
        EXPECT_EQ(ser->littleEndian, 1);
        EXPECT_EQ(ser->width, c.cut.width());
        EXPECT_EQ(ser->height, c.cut.height());
        EXPECT_EQ(ser->depth, 8);
        EXPECT_EQ(ser->telescope, "C8");
        EXPECT_GE(ser->utcTicks, before);
        EXPECT_LE(ser->utcTicks, SerWriter::UtcTicksNow());
        ASSERT_EQ(ser->frameCount, Frames);
        ASSERT_EQ(feed.sent.size(), std::size_t(Frames));
        ASSERT_EQ(ser->trailer.size(), std::size_t(Frames));

        for (std::size_t i = 0; i < std::size_t(Frames); ++i) {
            EXPECT_EQ(cutDiffers(feed.sent[i], ser->frames[i], c.cut, c.mono), "") << "frame " << i;
            // The camera's own times, 100 ns ticks apart as its microseconds are.
            ASSERT_GE(feed.startUs[i], 0) << "the emulated webcam stamps its frames";
            EXPECT_EQ(ser->trailer[i] - ser->trailer[0], (feed.startUs[i] - feed.startUs[0]) * 10);
            if (i > 0) {
                EXPECT_GT(ser->trailer[i], ser->trailer[i - 1]);
            }
        }
        EXPECT_GE(ser->trailer[0], before - 10'000'000) << "UTC of the first frame";
    }
}
