// The acquisition library: the acquisition dialog on the chosen source (a V4L2 webcam or the
// simulated camera), the webcam stream that stays open between acquisitions, and the source
// chooser.
#pragma once

#include "acquisition/Acquisition.h"
#include "acquisition/AcquisitionConfig.h"
#include "acquisition/AcquisitionOptions.h"
#include "acquisition/CameraSettingsEditor.h"
#include "acquisition/CaptureDevices.h"
#include "acquisition/WebcamStream.h"
#include "acquisition/simulated/SimulatedCamera.h"

#include <QPointer>

#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <utility>

namespace lumenvale {

class AcquisitionDialog;
class Clock;
class FrameSource;
class LineMonitor;
class V4l2Calls;

class AcquisitionLibrary : public Acquisition {
public:
    // `calls` reach the webcams: libv4l2's, or a test's. The caller owns them.
    AcquisitionLibrary(LineMonitor& lines, const Clock& clock, V4l2Calls& calls,
                       AcquisitionOptions options = {});
    ~AcquisitionLibrary() override;
    AcquisitionLibrary(const AcquisitionLibrary&) = delete;
    AcquisitionLibrary& operator=(const AcquisitionLibrary&) = delete;

    std::int32_t TWAIN_AcquireToFilename(QWidget* parent, const std::string& fileName) override;
    // Returns 0 when a choice was kept, AcquireCancelled when the chooser was cancelled, and
    // AcquireWriteFailed when the choice holds for this run only (its file could not be
    // written).
    std::int32_t TWAIN_SelectImageSource(QWidget* parent) override;

    void openSource() override;
    // Leaves a webcam that streams live video open.
    void closeSource() override;
    void prepareDialog(QWidget* parent) override;
    // From the chosen webcam; the simulated camera has no video.
    std::optional<QString>
    startVideo(const VideoHandler& onPicture,
               const std::function<void(const QString&)>& onFailure) override;
    void stopVideo() override;

    // The source choice in force (read from its file on first use).
    const AcquisitionConfig& config();
    // What the camera refused of its kept settings since this was last asked, one refusal a
    // line ("" when nothing was): each is said once, and the acquisitions go on.
    QString takeNotice() { return std::exchange(notice_, QString()); }
    SimulatedCamera& simulatedCamera() { return simulated_; }

    // A camera's controls with the settings kept for it: what the camera controls panel edits.
    // Changes are kept as they are made; a webcam's new frame rate reopens its stream.
    class CameraSettings {
    public:
        CameraSettings(std::unique_ptr<CameraControlSet> camera, KeptCameraSettings& kept,
                       std::function<void()> keptChanged,
                       std::function<std::optional<QString>(FrameInterval)> changeInterval)
            : camera_(std::move(camera)),
              editor_(*camera_, kept, std::move(keptChanged), std::move(changeInterval)) {}
        CameraSettingsEditor& editor() { return editor_; }

    private:
        std::unique_ptr<CameraControlSet> camera_;
        CameraSettingsEditor editor_;
    };
    // The open webcam's; nothing when no webcam is open.
    std::unique_ptr<CameraSettings> webcamSettings();
    std::unique_ptr<CameraSettings> simulatedSettings();
    // The camera controls panel, modal on `parent`, for the webcam at `path` called `name` (the
    // simulated camera for an empty path):
    // opened for the panel when the stream is not on it (and closed again after), what the user
    // sets kept for the camera's next use. A camera that cannot be opened says why.
    void showCameraControls(QWidget* parent, const std::string& path, const QString& name);
    const WebcamStream& webcamStream() const { return stream_; }

private:
    struct Webcam {
        std::string path;
        QString name;
    };
    // The webcam that acquires, if the source is one: the chosen one, or with nothing chosen
    // the first one we may open.
    std::optional<Webcam> chosenWebcam();
    std::unique_ptr<FrameSource> chosenSource(const std::optional<Webcam>& webcam);
    std::filesystem::path configFile() const;
    // When the readout state was written, as the frame is chosen by: the last line write
    // during this acquisition, or, with none (a Focus frame), the confirmation itself.
    std::int64_t readoutUs() const;
    void rememberTimestamps();
    // Sets the opening camera up as its settings are kept.
    void applyKeptSettings(WebcamStream& stream);
    // The live video takes the stream back after an acquisition had it.
    void resumeVideo();
    void keepConfig();
    void showPanel(QWidget* parent, CameraSettings& settings, const QString& name);

    LineMonitor& lines_;
    const Clock& clock_;
    AcquisitionOptions options_;
    V4l2Calls& calls_;
    SimulatedCamera simulated_;
    WebcamStream stream_;
    std::optional<AcquisitionConfig> config_;
    // With no source chosen, the webcam found first; looked for again when it fails.
    std::optional<CaptureDevice> defaultDevice_;
    // Which cameras were seen streaming with and without timestamps, for the chooser.
    std::map<std::string, bool> timestamped_;
    // Built at the first acquisition and shown again for every later one, so that none of its
    // building lands inside an exposure. Owned by its parent window, or by us without one.
    QPointer<AcquisitionDialog> dialog_;
    int linesSubscription_ = 0;
    std::int64_t lastWriteUs_ = 0;
    std::int64_t acquisitionStartUs_ = std::numeric_limits<std::int64_t>::max();
    QString notice_;
    class VideoListener;
    std::unique_ptr<VideoListener> video_; // while the live video runs
};

} // namespace lumenvale
