// A chosen source that cannot be used (a camera that was unplugged): the dialog opens as
// usual and shows why nothing can be acquired.
#pragma once

#include "acquisition/FrameSource.h"

namespace lumenvale {

class MissingSource : public FrameSource {
public:
    MissingSource(QString name, SourceFailure failure)
        : name_(std::move(name)), failure_(std::move(failure)) {}

    QString name() const override { return name_; }
    std::optional<SourceFailure> start() override { return failure_; }
    void stop() override {}
    void confirm() override {}
    SourcePoll poll() override {
        SourcePoll result;
        result.state = SourcePoll::State::Failed;
        result.failure = failure_;
        return result;
    }
    int pollIntervalMs() const override { return 100; }

private:
    QString name_;
    SourceFailure failure_;
};

} // namespace lumenvale
