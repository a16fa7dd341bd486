// The acquisition library's entry points.
#include "acquisition/AcquisitionLibrary.h"

#include "acquisition/CameraSettingsEditor.h"
#include "acquisition/V4l2Source.h"
#include "acquisition/dialog/AcquisitionDialog.h"
#include "acquisition/dialog/CameraControlsPanel.h"
#include "acquisition/dialog/SourceChooser.h"
#include "acquisition/simulated/SimulatedCameraSource.h"
#include "acquisition/simulated/SimulatedControls.h"
#include "lines/LineMonitor.h"
#include "platform/Clock.h"

#include <QMessageBox>

#include <algorithm>
#include <limits>

namespace lumenvale {

AcquisitionLibrary::AcquisitionLibrary(LineMonitor& lines, const Clock& clock, V4l2Calls& calls,
                                       AcquisitionOptions options)
    : lines_(lines), clock_(clock), options_(std::move(options)), calls_(calls),
      simulated_(lines, options_.simulatedDrift), stream_(calls_) {
    linesSubscription_ =
        lines_.subscribe([this](const LineWrite& write) { lastWriteUs_ = write.monotonicUs; });
    stream_.setOnOpening([this](WebcamStream& stream) { applyKeptSettings(stream); });
}

AcquisitionLibrary::~AcquisitionLibrary() {
    stopVideo();
    lines_.unsubscribe(linesSubscription_);
    delete dialog_.data();
    stream_.close();
}

std::filesystem::path AcquisitionLibrary::configFile() const {
    return options_.configFile.empty() ? AcquisitionConfig::defaultFile() : options_.configFile;
}

const AcquisitionConfig& AcquisitionLibrary::config() {
    if (!config_) {
        config_ = AcquisitionConfig::load(configFile());
        // The simulated camera is always there: set up as kept at once. It has no automatic
        // modes to turn off.
        const auto kept = config_->cameras.find(SimulatedCameraKey);
        if (kept != config_->cameras.end()) {
            SimulatedControlSet controls(simulated_);
            ApplyKeptSettings(controls, kept->second);
        }
    }
    return *config_;
}

void AcquisitionLibrary::keepConfig() {
    // A file that cannot be written keeps the settings for this run of the program.
    config();
    config_->save(configFile());
}

void AcquisitionLibrary::applyKeptSettings(WebcamStream& stream) {
    config();
    V4l2ControlSet controls = stream.controls();
    const AppliedSettings applied =
        ApplyKeptSettings(controls, config_->keptFor(stream.identity()));
    if (applied.keptChanged) {
        keepConfig();
    }
    for (const QString& refused : applied.refused) {
        const QString line = QStringLiteral("%1 refused %2").arg(stream.describe(), refused);
        qWarning("%s", qPrintable(line));
        notice_ += (notice_.isEmpty() ? QString() : QStringLiteral("\n")) + line;
    }
}

std::unique_ptr<AcquisitionLibrary::CameraSettings> AcquisitionLibrary::webcamSettings() {
    if (!stream_.isOpen()) {
        return nullptr;
    }
    config();
    KeptCameraSettings& kept = config_->keptFor(stream_.identity());
    auto changeInterval = [this, &kept](FrameInterval interval) -> std::optional<QString> {
        // A streaming camera takes a new frame rate only when it starts again, and the kept
        // settings are applied as it does.
        const std::optional<FrameInterval> before = kept.interval;
        kept.interval = interval;
        std::optional<QString> refused;
        if (const auto failed = stream_.reopen()) {
            refused = failed->reason;
        } else if (stream_.controls().frameInterval() != interval) {
            refused = QStringLiteral("the camera kept another frame rate");
        }
        if (refused) {
            // Back to the rate it had, streaming as before.
            kept.interval = before;
            stream_.reopen();
        }
        return refused;
    };
    return std::make_unique<CameraSettings>(
        std::make_unique<WebcamStreamControls>(stream_), kept, [this] { keepConfig(); },
        changeInterval);
}

std::unique_ptr<AcquisitionLibrary::CameraSettings> AcquisitionLibrary::simulatedSettings() {
    config();
    return std::make_unique<CameraSettings>(
        std::make_unique<SimulatedControlSet>(simulated_), config_->cameras[SimulatedCameraKey],
        [this] { keepConfig(); }, nullptr);
}

void AcquisitionLibrary::showCameraControls(QWidget* parent, const std::string& path,
                                            const QString& name) {
    if (path.empty()) {
        showPanel(parent, *simulatedSettings(), QStringLiteral("Simulated camera"));
        return;
    }
    rememberTimestamps();
    const bool wasOpen = stream_.isOpen() && stream_.path() == path;
    if (const auto failure = stream_.open(path, name)) {
        QMessageBox::warning(parent, QStringLiteral("Camera controls"), failure->reason);
        return;
    }
    showPanel(parent, *webcamSettings(), stream_.describe());
    if (!wasOpen) {
        closeSource();
    }
}

void AcquisitionLibrary::showPanel(QWidget* parent, CameraSettings& settings, const QString& name) {
    CameraControlsPanel panel(parent, settings.editor(), name);
    panel.exec();
}

std::optional<AcquisitionLibrary::Webcam> AcquisitionLibrary::chosenWebcam() {
    const AcquisitionConfig& chosen = config();
    switch (chosen.source) {
    case AcquisitionConfig::Source::Simulated:
        return std::nullopt;
    case AcquisitionConfig::Source::V4l2:
        // A camera that has gone says so in the dialog; falling back to the simulated sky here
        // would hand made-up frames to a real observing run.
        return Webcam{chosen.devicePath, chosen.deviceName};
    case AcquisitionConfig::Source::Unset:
        break;
    }
    if (!defaultDevice_) {
        const auto devices = FindCaptureDevices(calls_, options_.deviceDirectory);
        const auto usable = std::find_if(devices.begin(), devices.end(),
                                         [](const CaptureDevice& d) { return d.accessible; });
        if (usable == devices.end()) {
            return std::nullopt;
        }
        defaultDevice_ = *usable;
    }
    return Webcam{defaultDevice_->path, defaultDevice_->name};
}

std::unique_ptr<FrameSource> AcquisitionLibrary::chosenSource(const std::optional<Webcam>& webcam) {
    if (!webcam) {
        return std::make_unique<SimulatedCameraSource>(simulated_);
    }
    V4l2Source::Options settings;
    settings.path = webcam->path;
    settings.name = webcam->name;
    settings.skipFrames = config().skipFrames;
    settings.frameTimeoutMs = options_.frameTimeoutMs;
    return std::make_unique<V4l2Source>(stream_, clock_, settings, [this] { return readoutUs(); });
}

std::int64_t AcquisitionLibrary::readoutUs() const {
    return lastWriteUs_ >= acquisitionStartUs_ ? lastWriteUs_ : clock_.monotonicUs();
}

void AcquisitionLibrary::openSource() {
    if (const std::optional<Webcam> webcam = chosenWebcam()) {
        // A camera that cannot be opened now says why in the acquisition dialog.
        if (stream_.open(webcam->path, webcam->name)) {
            defaultDevice_.reset();
        }
    } else {
        closeSource();
    }
}

void AcquisitionLibrary::closeSource() {
    rememberTimestamps();
    if (!video_) {
        stream_.close();
    }
}

// Hands the stream's pictures, converted, to the Video window.
class AcquisitionLibrary::VideoListener : public WebcamStream::Listener {
public:
    VideoListener(WebcamStream& stream, VideoHandler onPicture,
                  std::function<void(const QString&)> onFailure)
        : stream_(stream), onPicture_(std::move(onPicture)), onFailure_(std::move(onFailure)) {}
    void frameArrived(const WebcamStream::Frame& frame) override {
        if (frame.intact && stream_.convert(frame, picture_)) {
            onPicture_({picture_, frame.startUs, frame.sequence});
        }
    }
    // The handler may end the video, and this listener with it.
    void streamFailed(const SourceFailure& failure) override { failed(failure.reason); }
    void failed(const QString& why) {
        const auto onFailure = onFailure_;
        onFailure(why);
    }

private:
    WebcamStream& stream_;
    VideoHandler onPicture_;
    std::function<void(const QString&)> onFailure_;
    AcquiredFrame picture_;
};

std::optional<QString>
AcquisitionLibrary::startVideo(const VideoHandler& onPicture,
                               const std::function<void(const QString&)>& onFailure) {
    stopVideo();
    const std::optional<Webcam> webcam = chosenWebcam();
    if (!webcam) {
        return config().source == AcquisitionConfig::Source::Simulated
                   ? QStringLiteral("The simulated camera has no live video: choose a webcam "
                                    "under Settings > Source.")
                   : QStringLiteral("No webcam was found.");
    }
    if (const auto failure = stream_.open(webcam->path, webcam->name)) {
        defaultDevice_.reset();
        return failure->reason;
    }
    video_ = std::make_unique<VideoListener>(stream_, onPicture, onFailure);
    stream_.setListener(video_.get());
    return std::nullopt;
}

void AcquisitionLibrary::stopVideo() {
    if (video_ && stream_.listener() == video_.get()) {
        stream_.setListener(nullptr);
    }
    video_.reset();
}

void AcquisitionLibrary::resumeVideo() {
    if (!video_) {
        return;
    }
    if (!stream_.isOpen()) {
        const std::optional<Webcam> webcam = chosenWebcam();
        const auto failure =
            webcam ? stream_.open(webcam->path, webcam->name) : std::optional<SourceFailure>();
        if (!webcam || failure) {
            const QString why = failure ? failure->reason : QStringLiteral("No webcam was found.");
            std::unique_ptr<VideoListener> ended = std::move(video_);
            ended->failed(why);
            return;
        }
    }
    stream_.setListener(video_.get());
}

void AcquisitionLibrary::rememberTimestamps() {
    if (stream_.isOpen() && stream_.timestamped()) {
        timestamped_[stream_.path()] = *stream_.timestamped();
    }
}

void AcquisitionLibrary::prepareDialog(QWidget* parent) {
    if (dialog_ && dialog_->parentWidget() != parent) {
        delete dialog_.data();
    }
    if (!dialog_) {
        dialog_ = new AcquisitionDialog(parent, options_.failureLingerMs);
        // Laid out, polished and given its window now rather than at its first showing.
        dialog_->ensurePolished();
        dialog_->adjustSize();
        dialog_->createWindow();
        dialog_->setNotices([this] { return takeNotice(); });
    }
}

std::int32_t AcquisitionLibrary::TWAIN_AcquireToFilename(QWidget* parent,
                                                         const std::string& fileName) {
    acquisitionStartUs_ = clock_.monotonicUs();
    const std::optional<Webcam> webcam = chosenWebcam();
    const std::unique_ptr<FrameSource> source = chosenSource(webcam);
    prepareDialog(parent);
    AcquisitionDialog& dialog = *dialog_;
    // Not once the readout has begun: a Focus frame writes no line, a capture's readout timer
    // writes its state at once.
    dialog.offerCameraControls(
        [this, webcam = webcam.value_or(Webcam{})](QWidget* on) {
            showCameraControls(on, webcam.path, webcam.name);
        },
        [this] { return lastWriteUs_ < acquisitionStartUs_; });
    const std::int32_t result =
        dialog.run(*source, std::filesystem::path(fileName), config().stretch);
    // Later line writes belong to no acquisition until the next one starts.
    acquisitionStartUs_ = std::numeric_limits<std::int64_t>::max();
    if (dialog.stretch() != config_->stretch) {
        // Kept for the next run of the program; when the file cannot be written, for this one.
        config_->stretch = dialog.stretch();
        keepConfig();
    }
    if (result == AcquireNoSource) {
        defaultDevice_.reset();
    }
    resumeVideo();
    return result;
}

std::int32_t AcquisitionLibrary::TWAIN_SelectImageSource(QWidget* parent) {
    rememberTimestamps();
    std::vector<CaptureDevice> devices = FindCaptureDevices(calls_, options_.deviceDirectory);
    for (CaptureDevice& device : devices) {
        const auto seen = timestamped_.find(device.path);
        if (seen != timestamped_.end()) {
            device.timestamped = seen->second;
        }
    }
    SourceChooser chooser(parent, std::move(devices), config(), options_.lineCalls, &clock_,
                          options_.deviceDirectory);
    chooser.offerCameraControls(
        [this](QWidget* on, const CaptureDevice* webcam) {
            if (webcam != nullptr) {
                showCameraControls(on, webcam->path, webcam->name);
            } else {
                showCameraControls(on, {}, {});
            }
        },
        true);
    if (chooser.exec() != QDialog::Accepted) {
        return AcquireCancelled;
    }
    // Neither the stretch nor the cameras' own settings are the chooser's to change.
    AcquisitionConfig chosen = chooser.choice();
    chosen.stretch = config_->stretch;
    chosen.cameras = std::move(config_->cameras);
    config_ = std::move(chosen);
    defaultDevice_.reset();
    // Another camera (or the same one with other settings) starts afresh at the next command.
    if (video_) {
        std::unique_ptr<VideoListener> ended = std::move(video_);
        stream_.setListener(nullptr);
        ended->failed(QStringLiteral("Another source was chosen."));
    }
    closeSource();
    return config_->save(configFile()) ? AcquireOk : AcquireWriteFailed;
}

} // namespace lumenvale
