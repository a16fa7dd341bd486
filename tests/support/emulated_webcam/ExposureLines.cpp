// The camera lines' exposure rule.
#include "ExposureLines.h"

#include <algorithm>
#include <utility>

namespace lumenvale::emulated {

namespace {

constexpr std::uint8_t ExposeAmpOn = 0x34;
constexpr std::uint8_t ExposeAmpOff = 0x30;
constexpr std::uint8_t Readout = 0x37;       // binned readout, or the second hi-res field
constexpr std::uint8_t ReadoutField1 = 0x35; // first hi-res field

constexpr int BrightestLevel = 235;
constexpr std::int64_t UsPerLevel = 5000;

} // namespace

int ExposureLines::levelFor(std::int64_t lengthUs) {
    return int(std::min<std::int64_t>(
        BrightestLevel, DarkLevel + std::max<std::int64_t>(0, lengthUs) / UsPerLevel));
}

std::optional<ReadoutExposure> ExposureLines::write(std::uint8_t value, std::int64_t us) {
    const bool wasField1 = std::exchange(lastWasField1_, false);
    if (value == ExposeAmpOn || value == ExposeAmpOff) {
        exposureStartUs_ = us;
        exposureOpen_ = true;
        return std::nullopt;
    }
    if (value != Readout && value != ReadoutField1) {
        return std::nullopt;
    }
    ReadoutExposure exposure;
    exposure.writeUs = us;
    if (exposureOpen_) {
        // The first readout since the exposure state: the charge of the even rows (all rows
        // of a binned frame, which the program line-doubles) is read out.
        exposureOpen_ = false;
        lastWasField1_ = value == ReadoutField1;
        exposure.rows = ExposedRows::Even;
        exposure.kind = value == ReadoutField1 ? "field1" : "binned";
    } else if (value == Readout && wasField1) {
        // The second hi-res field: the other lines kept their charge since the same exposure
        // state while the first field was read; the camera sends them in the same rows.
        exposure.rows = ExposedRows::Even;
        exposure.kind = "field2";
    } else {
        // A readout state with no exposure before it (the frame-start pulse, Focus): the
        // sensor is read every frame as in ordinary video, nothing has built up.
        return std::nullopt;
    }
    exposure.lengthUs = us - *exposureStartUs_;
    exposure.level = levelFor(exposure.lengthUs);
    return exposure;
}

} // namespace lumenvale::emulated
