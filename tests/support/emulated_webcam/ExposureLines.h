// The camera lines as the modified webcam sees them: which port write ends an exposure, how
// long that exposure was, and which rows of the next frame carry it.
#pragma once

#include <cstdint>
#include <optional>

namespace lumenvale::emulated {

// Brightness of rows that carry no exposure, as an ordinary video frame shows them.
inline constexpr int DarkLevel = 16;

enum class ExposedRows { Even, Odd };

struct ReadoutExposure {
    std::int64_t writeUs = 0; // CLOCK_MONOTONIC time of the readout write
    std::int64_t lengthUs = 0;
    int level = DarkLevel;
    ExposedRows rows = ExposedRows::Even;
    const char* kind = ""; // "binned", "field1", "field2"
};

class ExposureLines {
public:
    // Takes one write of the data lines; returns the exposure it reads out, if it ends one.
    std::optional<ReadoutExposure> write(std::uint8_t value, std::int64_t us);

    // Brightness of an exposure that lasted `lengthUs`: 16 plus one level per 5 ms, at most 235.
    static int levelFor(std::int64_t lengthUs);

private:
    std::optional<std::int64_t> exposureStartUs_; // the last exposure-state write
    bool exposureOpen_ = false;                   // no readout since that write
    bool lastWasField1_ = false;                  // the last write read out a first field
};

} // namespace lumenvale::emulated
