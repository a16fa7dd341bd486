// The exposure as the camera lines measured it: from the exposure-state write that follows the
// settle states (or, when that write moved no output, the last one since the settle state that
// did) to the first readout write after it, with the wall-clock time of its start.
#pragma once

#include "lines/LineMonitor.h"

#include <QDateTime>

#include <cstdint>
#include <optional>

namespace lumenvale {

class ExposureLines {
public:
    explicit ExposureLines(LineMonitor& lines);
    ~ExposureLines();
    ExposureLines(const ExposureLines&) = delete;
    ExposureLines& operator=(const ExposureLines&) = delete;

    // Forgets the last exposure; the next frame start is watched.
    void reset();

    // Seconds from the exposure-state write to the readout write, once both happened.
    std::optional<double> seconds() const;
    // UTC of the exposure-state write.
    const QDateTime& startUtc() const { return startUtc_; }

private:
    void onWrite(const LineWrite& write);

    LineMonitor& lines_;
    int subscription_ = 0;
    // Writes seen since the settle states 0x14, 0x34: the next one is the exposure state.
    int sinceSettled_ = -1;
    std::uint8_t previous_ = 0;
    // The last write since the settle state that moved an output: where the exposure state
    // moves nothing, the camera's exposure began there.
    std::optional<std::int64_t> movedUs_;
    std::optional<std::int64_t> startUs_;
    std::optional<std::int64_t> readoutUs_;
    QDateTime startUtc_;
};

} // namespace lumenvale
