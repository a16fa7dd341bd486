// The simulated camera as an image source: a live picture of its sky, and on confirmation the
// frame its lines have prepared, at once.
#pragma once

#include "acquisition/FrameSource.h"
#include "acquisition/simulated/SimulatedCamera.h"

namespace lumenvale {

class SimulatedCameraSource : public FrameSource {
public:
    static constexpr int PreviewIntervalMs = 150;

    explicit SimulatedCameraSource(SimulatedCamera& camera) : camera_(camera) {}

    QString name() const override { return QStringLiteral("Simulated camera"); }
    std::optional<SourceFailure> start() override { return std::nullopt; }
    void stop() override {}
    void confirm() override { confirmed_ = true; }
    SourcePoll poll() override;
    int pollIntervalMs() const override { return PreviewIntervalMs; }

private:
    SimulatedCamera& camera_;
    bool confirmed_ = false;
};

} // namespace lumenvale
