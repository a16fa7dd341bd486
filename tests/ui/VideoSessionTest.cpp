// The Video window's session on a camera that streams numbered, timed pictures: a recording to
// the save directory, ended by its frame limit, with the frames the camera skipped counted;
// refused while a capture runs; and the camera kept from captures while it records.
#include "support/SerReader.h"
#include "support/TempDirTest.h"

#include "ui/VideoSession.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace lumenvale::test {
namespace {

// A camera whose live video the test plays picture by picture.
class VideoCamera : public Acquisition {
public:
    std::int32_t TWAIN_AcquireToFilename(QWidget*, const std::string&) override {
        return AcquireCancelled;
    }
    std::int32_t TWAIN_SelectImageSource(QWidget*) override { return AcquireCancelled; }
    std::optional<QString> startVideo(const VideoHandler& onPicture,
                                      const std::function<void(const QString&)>&) override {
        onPicture_ = onPicture;
        return std::nullopt;
    }
    void stopVideo() override { onPicture_ = nullptr; }

    void send(std::uint32_t sequence) {
        AcquiredFrame frame;
        for (int row = 0; row < AcquiredFrame::Height; ++row) {
            std::fill_n(frame.storedRow(row), AcquiredFrame::RowBytes,
                        std::uint8_t((row + sequence) % 200));
        }
        onPicture_({frame, 1'000'000 + std::int64_t(sequence) * 33'333, sequence});
    }
    bool streaming() const { return bool(onPicture_); }

private:
    VideoHandler onPicture_;
};

struct VideoSessionTest : TempDirTest {};

TEST_F(VideoSessionTest, RecordsToItsLimitRefusedDuringACaptureAndKeepsTheCameraMeanwhile) {
    VideoCamera camera;
    CaptureState capture;
    VideoSession session(camera, capture);
    ASSERT_FALSE(session.start());
    ASSERT_TRUE(camera.streaming());

    VideoSession::Choice choice;
    choice.region = QSize(320, 240);
    choice.maxFrames = 4;
    capture.CaptureBusy = 1;
    EXPECT_TRUE(session.record(dir.string(), QStringLiteral("moon"), choice));
    EXPECT_FALSE(session.recording());
    capture.CaptureBusy = 0;

    session.setCentre(QPoint(630, 10)); // the region kept inside the picture
    ASSERT_FALSE(session.record(dir.string(), QStringLiteral("moon"), choice));
    EXPECT_TRUE(camera.recordingVideo()) << "no capture may take the camera";
    for (const std::uint32_t sequence : {7U, 8U, 10U, 11U, 12U, 13U}) {
        camera.send(sequence);
    }
    EXPECT_FALSE(session.recording()) << "ended by its limit of 4 frames";
    EXPECT_FALSE(camera.recordingVideo());
    EXPECT_EQ(session.takeMessage().toStdString(), "4 frames recorded to " +
                                                       (dir / "moon001.ser").string() +
                                                       " (0 dropped, 1 dropped by the camera).");

    std::string why;
    const auto ser = ReadSer(dir / "moon001.ser", why);
    ASSERT_TRUE(ser) << why;
    EXPECT_EQ(ser->frameCount, 4);
    EXPECT_EQ(ser->width, 320);
    EXPECT_EQ(ser->height, 240);
    EXPECT_EQ(ser->colourId, 100);
    // The top right corner of the picture: its first line is the picture's top line.
    EXPECT_EQ(ser->frames[0][0], std::uint8_t((AcquiredFrame::Height - 1 + 7) % 200));
    EXPECT_EQ(ser->trailer.size(), 4U);

    session.stop();
    EXPECT_FALSE(camera.streaming());
    EXPECT_FALSE(session.live());
}

} // namespace
} // namespace lumenvale::test
