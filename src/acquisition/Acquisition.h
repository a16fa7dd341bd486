// The acquisition library as the camera code calls it: acquire one frame into a BMP file
// through a modal dialog, and choose the image source.
#pragma once

#include "frames/AcquiredFrame.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace lumenvale {

// Results of TWAIN_AcquireToFilename.
enum AcquireResult : std::int32_t {
    AcquireOk = 0,
    AcquireCancelled = 1,
    AcquireNoSource = 2,
    AcquireDeviceBusy = 3,
    AcquirePermissionDenied = 4,
    AcquireNoFrameInTime = 5,
    AcquireWriteFailed = 6,
    AcquireFailed = 7,
    AcquireDamagedFrame = 8,
};

// A short text for a result, for messages ("cancelled", "device busy", ...).
QString DescribeAcquireResult(std::int32_t result);

class Acquisition {
public:
    virtual ~Acquisition() = default;

    // Opens the modal acquisition dialog owned by `parent` and runs its event loop until it
    // closes, so the caller's window timers fire meanwhile; one Return keystroke confirms it.
    // On confirmation writes one 640 x 480, 24-bit, bottom-up BMP to `fileName` (relative to
    // the current directory) and returns AcquireOk; otherwise writes nothing and returns
    // another AcquireResult.
    virtual std::int32_t TWAIN_AcquireToFilename(QWidget* parent, const std::string& fileName) = 0;

    // Shows the modal source chooser owned by `parent`; the library remembers the choice.
    virtual std::int32_t TWAIN_SelectImageSource(QWidget* parent) = 0;

    // Opens and starts the chosen camera ahead of the acquisitions, so that none of its
    // start-up lands inside an exposure; it keeps streaming until closeSource() or until
    // another source is chosen. Harmless when it already streams or needs no start-up; a
    // camera that cannot be opened says why at the next acquisition.
    virtual void openSource() {}
    virtual void closeSource() {}
    // Builds the acquisition dialog `parent` will own ahead of a run, for the same reason:
    // its building must not land inside the first exposure. Harmless when already built.
    virtual void prepareDialog(QWidget* /*parent*/) {}

    // One picture of the live video: when it began on the sensor (CLOCK_MONOTONIC
    // microseconds, when the camera says) and the camera's number for it.
    struct VideoPicture {
        const AcquiredFrame& frame;
        std::optional<std::int64_t> startUs;
        std::uint32_t sequence = 0;
    };
    using VideoHandler = std::function<void(const VideoPicture&)>;
    // Live video for the Video window: the chosen camera streams and hands each picture to
    // `onPicture` as it comes, until stopVideo(); an acquisition in between takes the stream
    // and gives it back. Says why when the source has no video; `onFailure` says why the
    // stream ended (the camera unplugged).
    virtual std::optional<QString>
    startVideo(const VideoHandler& /*onPicture*/,
               const std::function<void(const QString&)>& /*onFailure*/) {
        return QStringLiteral("This source has no live video.");
    }
    virtual void stopVideo() {}
    // While a video is being recorded no capture may take the camera, and the other way round.
    void setRecordingVideo(bool recording) { recordingVideo_ = recording; }
    bool recordingVideo() const { return recordingVideo_; }

private:
    bool recordingVideo_ = false;
};

} // namespace lumenvale
