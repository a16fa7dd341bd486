// The acquisition library's two entry points.
#include "platform/acquisition/AcquisitionLibrary.h"

#include "platform/acquisition/AcquisitionDialog.h"
#include "platform/acquisition/LibV4l2Calls.h"
#include "platform/acquisition/SimulatedCameraSource.h"
#include "platform/acquisition/SourceChooser.h"
#include "platform/acquisition/V4l2Source.h"

#include <algorithm>

namespace lumenvale {

AcquisitionLibrary::AcquisitionLibrary(LineMonitor& lines, const Clock& clock)
    : AcquisitionLibrary(lines, clock, AcquisitionOptions{}) {}

AcquisitionLibrary::AcquisitionLibrary(LineMonitor& lines, const Clock& clock,
                                       AcquisitionOptions options)
    : lines_(lines), clock_(clock), options_(std::move(options)),
      ownedCalls_(options_.v4l2 == nullptr ? std::make_unique<LibV4l2Calls>() : nullptr),
      calls_(options_.v4l2 != nullptr ? options_.v4l2 : ownedCalls_.get()), simulated_(lines) {}

AcquisitionLibrary::~AcquisitionLibrary() = default;

std::filesystem::path AcquisitionLibrary::configFile() const {
    return options_.configFile.empty() ? AcquisitionConfig::DefaultFile() : options_.configFile;
}

const AcquisitionConfig& AcquisitionLibrary::config() {
    if (!config_) {
        config_ = AcquisitionConfig::Load(configFile());
    }
    return *config_;
}

std::unique_ptr<FrameSource> AcquisitionLibrary::chosenSource() {
    const AcquisitionConfig& chosen = config();
    V4l2Source::Settings settings;
    settings.skipFrames = chosen.skipFrames;
    settings.frameTimeoutMs = options_.frameTimeoutMs;
    switch (chosen.source) {
    case AcquisitionConfig::Source::Simulated:
        return std::make_unique<SimulatedCameraSource>(simulated_);
    case AcquisitionConfig::Source::V4l2:
        // A camera that has gone says so in the dialog; falling back to the simulated sky here
        // would hand made-up frames to a real observing run.
        settings.path = chosen.devicePath;
        settings.name = chosen.deviceName;
        return std::make_unique<V4l2Source>(*calls_, clock_, settings);
    case AcquisitionConfig::Source::Unset:
        break;
    }
    if (!defaultDevice_) {
        const auto devices = FindCaptureDevices(*calls_, options_.deviceDirectory);
        const auto usable = std::find_if(devices.begin(), devices.end(),
                                         [](const CaptureDevice& d) { return d.accessible; });
        if (usable == devices.end()) {
            return std::make_unique<SimulatedCameraSource>(simulated_);
        }
        defaultDevice_ = *usable;
    }
    settings.path = defaultDevice_->path;
    settings.name = defaultDevice_->name;
    return std::make_unique<V4l2Source>(*calls_, clock_, settings);
}

std::int32_t AcquisitionLibrary::TWAIN_AcquireToFilename(QWidget* parent,
                                                         const std::string& fileName) {
    const std::unique_ptr<FrameSource> source = chosenSource();
    AcquisitionDialog dialog(parent, *source, std::filesystem::path(fileName),
                             options_.failureLingerMs, config().stretch);
    const std::int32_t result = dialog.run();
    if (dialog.stretch() != config_->stretch) {
        // Kept for the next run of the program; when the file cannot be written, for this one.
        config_->stretch = dialog.stretch();
        config_->save(configFile());
    }
    if (result == AcquireNoSource) {
        defaultDevice_.reset();
    }
    return result;
}

std::int32_t AcquisitionLibrary::TWAIN_SelectImageSource(QWidget* parent) {
    SourceChooser chooser(parent, FindCaptureDevices(*calls_, options_.deviceDirectory), config());
    if (chooser.exec() != QDialog::Accepted) {
        return AcquireCancelled;
    }
    const bool stretch = config().stretch; // not the chooser's to change
    config_ = chooser.choice();
    config_->stretch = stretch;
    defaultDevice_.reset();
    return config_->save(configFile()) ? AcquireOk : AcquireWriteFailed;
}

} // namespace lumenvale
