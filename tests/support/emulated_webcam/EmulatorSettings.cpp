// Reading the emulated webcam's settings.
#include "EmulatorSettings.h"

#include "EmulatedControls.h"

#include <linux/videodev2.h>

#include <charconv>

namespace lumenvale::emulated {

namespace {

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    while (!text.empty()) {
        const std::size_t at = text.find(separator);
        std::string_view part = text.substr(0, at);
        if (!part.empty()) {
            parts.push_back(part);
        }
        if (at == std::string_view::npos) {
            break;
        }
        text.remove_prefix(at + 1);
    }
    return parts;
}

std::optional<int> number(std::string_view text, int lowest) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < lowest) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint32_t> fourcc(std::string_view name) {
    if (name == "YUYV") {
        return V4L2_PIX_FMT_YUYV;
    }
    if (name == "MJPG" || name == "MJPEG") {
        return V4L2_PIX_FMT_MJPEG;
    }
    if (name == "GREY") {
        return V4L2_PIX_FMT_GREY;
    }
    if (name == "BA81" || name == "SBGGR8") {
        return V4L2_PIX_FMT_SBGGR8;
    }
    return std::nullopt;
}

// "exposure:2" or "frame:5".
std::optional<std::pair<FrameCount, int>> frameCount(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view what = text.substr(0, colon);
    const std::optional<int> n = number(text.substr(colon + 1), 1);
    if (!n) {
        return std::nullopt;
    }
    if (what == "exposure") {
        return std::pair{FrameCount::Exposure, *n};
    }
    if (what == "frame") {
        return std::pair{FrameCount::Delivered, *n};
    }
    return std::nullopt;
}

std::optional<std::string> formatsFrom(std::string_view value, EmulatorSettings& out) {
    std::vector<std::uint32_t> formats;
    for (const std::string_view name : split(value, ',')) {
        const std::optional<std::uint32_t> code = fourcc(name);
        if (!code) {
            return "unknown format " + std::string(name) + " (YUYV, MJPG, GREY, BA81)";
        }
        formats.push_back(*code);
    }
    if (formats.empty()) {
        return std::string("no format given");
    }
    out.formats = formats;
    return std::nullopt;
}

std::optional<std::string> sizesFrom(std::string_view value, EmulatorSettings& out) {
    std::vector<FrameSize> sizes;
    for (const std::string_view size : split(value, ',')) {
        const std::size_t x = size.find('x');
        const std::optional<int> w = number(size.substr(0, x), 2);
        const std::optional<int> h =
            x == std::string_view::npos ? std::nullopt : number(size.substr(x + 1), 2);
        // Even widths only: YUYV carries two pixels in four bytes, Bayer tiles are 2 x 2.
        if (!w || !h || *w % 2 != 0 || *h % 2 != 0 || *w > 4096 || *h > 4096) {
            return "bad size " + std::string(size) + " (even WIDTHxHEIGHT up to 4096)";
        }
        sizes.push_back({std::uint32_t(*w), std::uint32_t(*h)});
    }
    if (sizes.empty()) {
        return std::string("no size given");
    }
    out.sizes = sizes;
    return std::nullopt;
}

std::optional<std::string> damageFrom(std::string_view value, EmulatorSettings& out) {
    if (value == "none") {
        out.damage = {};
        return std::nullopt;
    }
    const std::size_t at = value.find('@');
    const std::string_view kind = value.substr(0, at);
    const auto which =
        at == std::string_view::npos ? std::nullopt : frameCount(value.substr(at + 1));
    Damage damage;
    if (kind == "error") {
        damage.kind = DamageKind::ErrorFlag;
    } else if (kind == "short") {
        damage.kind = DamageKind::Short;
    } else if (kind == "truncated") {
        damage.kind = DamageKind::Truncated;
    }
    if (damage.kind == DamageKind::None || !which) {
        return "bad damage " + std::string(value) +
               " (none, or error|short|truncated@exposure:N|frame:N)";
    }
    damage.counted = which->first;
    damage.n = which->second;
    out.damage = damage;
    return std::nullopt;
}

std::optional<std::string> unplugFrom(std::string_view value, EmulatorSettings& out) {
    if (value == "never") {
        out.unplug = {};
        return std::nullopt;
    }
    const std::size_t colon = value.find(':');
    const std::string_view what = value.substr(0, colon);
    const std::optional<int> n =
        colon == std::string_view::npos ? std::nullopt : number(value.substr(colon + 1), 1);
    if (n && what == "readout") {
        out.unplug = {UnplugAt::Readout, *n};
        return std::nullopt;
    }
    if (n && what == "frames") {
        out.unplug = {UnplugAt::Frames, *n};
        return std::nullopt;
    }
    return "bad unplug " + std::string(value) + " (never, readout:N or frames:N)";
}

} // namespace

EmulatorSettings::EmulatorSettings()
    : formats{V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_GREY, V4L2_PIX_FMT_SBGGR8},
      sizes{{640, 480}, {1280, 720}, {320, 240}} {}

std::optional<std::string> EmulatorSettings::apply(std::string_view key, std::string_view value) {
    constexpr std::string_view Prefix = "EMUCAM_";
    if (key.substr(0, Prefix.size()) == Prefix) {
        key.remove_prefix(Prefix.size());
    }
    const auto milliseconds = [&](int& field, int lowest) -> std::optional<std::string> {
        const std::optional<int> n = number(value, lowest);
        if (!n) {
            return "bad " + std::string(key) + " " + std::string(value);
        }
        field = *n;
        return std::nullopt;
    };
    if (key == "FORMATS") {
        return formatsFrom(value, *this);
    }
    if (key == "SIZES") {
        return sizesFrom(value, *this);
    }
    if (key == "STREAMON_MS") {
        return milliseconds(streamOnMs, 0);
    }
    if (key == "FIRST_FRAME_MS") {
        return milliseconds(firstFrameMs, 0);
    }
    if (key == "FPS") {
        return milliseconds(fps, 1);
    }
    if (key == "TIMESTAMPS") {
        if (value == "eof") {
            timestamps = Timestamps::EndOfFrame;
        } else if (value == "soe") {
            timestamps = Timestamps::StartOfExposure;
        } else if (value == "none") {
            timestamps = Timestamps::None;
        } else {
            return "bad TIMESTAMPS " + std::string(value) + " (eof, soe or none)";
        }
        return std::nullopt;
    }
    if (key == "DAMAGE") {
        return damageFrom(value, *this);
    }
    if (key == "UNPLUG") {
        return unplugFrom(value, *this);
    }
    if (key == "REFUSE") {
        const std::optional<std::uint32_t> id =
            value == "none" ? std::optional<std::uint32_t>(0) : ControlIdOf(value);
        if (!id) {
            return "bad REFUSE " + std::string(value) + " (none, a control's name or 0xID)";
        }
        refusedControl = *id;
        return std::nullopt;
    }
    if (key == "LOG") {
        logPath = value;
        return std::nullopt;
    }
    return "unknown key " + std::string(key);
}

std::optional<std::string> EmulatorSettings::parse(std::string_view settings,
                                                   EmulatorSettings& out) {
    EmulatorSettings result = out;
    for (const std::string_view item : split(settings, ';')) {
        const std::size_t equals = item.find('=');
        if (equals == std::string_view::npos) {
            return "no value in " + std::string(item);
        }
        if (auto problem = result.apply(item.substr(0, equals), item.substr(equals + 1))) {
            return problem;
        }
    }
    out = result;
    return std::nullopt;
}

} // namespace lumenvale::emulated
