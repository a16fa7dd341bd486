// The acquisition library: the acquisition dialog on the chosen source (a V4L2 webcam or the
// simulated camera), and the source chooser.
#pragma once

#include "platform/Acquisition.h"
#include "platform/acquisition/AcquisitionConfig.h"
#include "platform/acquisition/AcquisitionOptions.h"
#include "platform/acquisition/CaptureDevices.h"
#include "platform/acquisition/SimulatedCamera.h"

#include <memory>
#include <optional>

namespace lumenvale {

class Clock;
class FrameSource;
class LineMonitor;
class V4l2Calls;

class AcquisitionLibrary : public Acquisition {
public:
    AcquisitionLibrary(LineMonitor& lines, const Clock& clock);
    AcquisitionLibrary(LineMonitor& lines, const Clock& clock, AcquisitionOptions options);
    ~AcquisitionLibrary() override;
    AcquisitionLibrary(const AcquisitionLibrary&) = delete;
    AcquisitionLibrary& operator=(const AcquisitionLibrary&) = delete;

    std::int32_t TWAIN_AcquireToFilename(QWidget* parent, const std::string& fileName) override;
    // Returns 0 when a choice was kept, AcquireCancelled when the chooser was cancelled, and
    // AcquireWriteFailed when the choice holds for this run only (its file could not be
    // written).
    std::int32_t TWAIN_SelectImageSource(QWidget* parent) override;

    // The source choice in force (read from its file on first use).
    const AcquisitionConfig& config();
    SimulatedCamera& simulatedCamera() { return simulated_; }

private:
    std::unique_ptr<FrameSource> chosenSource();
    std::filesystem::path configFile() const;

    LineMonitor& lines_;
    const Clock& clock_;
    AcquisitionOptions options_;
    std::unique_ptr<V4l2Calls> ownedCalls_;
    V4l2Calls* calls_;
    SimulatedCamera simulated_;
    std::optional<AcquisitionConfig> config_;
    // With no source chosen, the webcam found first; looked for again when it fails.
    std::optional<CaptureDevice> defaultDevice_;
};

} // namespace lumenvale
