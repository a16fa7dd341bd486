// What the emulated webcam is: its modes, its clock, and the one fault it will show.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumenvale::emulated {

struct FrameSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

enum class Timestamps { EndOfFrame, StartOfExposure, None };

enum class DamageKind { None, ErrorFlag, Short, Truncated };

// Which frame something happens to: the Nth frame put into a buffer, or the Nth frame that
// carries an exposure, both counted from 1 since the camera was plugged in.
enum class FrameCount { Delivered, Exposure };

struct Damage {
    DamageKind kind = DamageKind::None;
    FrameCount counted = FrameCount::Exposure;
    int n = 0;
};

// The camera leaves at the Nth readout write that ends an exposure, or instead of the frame
// that would follow the Nth delivered one.
enum class UnplugAt { Never, Readout, Frames };

struct Unplug {
    UnplugAt at = UnplugAt::Never;
    int n = 0;
};

struct EmulatorSettings {
    std::vector<std::uint32_t> formats; // V4L2 fourccs, in the order ENUM_FMT lists them
    std::vector<FrameSize> sizes;       // every format offers every size
    int streamOnMs = 250;
    int firstFrameMs = 300;
    int fps = 10;
    Timestamps timestamps = Timestamps::EndOfFrame;
    Damage damage;
    Unplug unplug;
    std::uint32_t refusedControl = 0; // the control whose setting fails with EIO; 0: none
    std::string logPath;

    EmulatorSettings();

    // Applies one KEY=VALUE setting (the key with or without the EMUCAM_ prefix). Returns a
    // description of what is wrong, or nothing when it was taken.
    std::optional<std::string> apply(std::string_view key, std::string_view value);
    // Applies "KEY=VALUE;KEY=VALUE" over `out`, which is left alone when a setting is wrong.
    static std::optional<std::string> parse(std::string_view settings, EmulatorSettings& out);
};

} // namespace lumenvale::emulated
