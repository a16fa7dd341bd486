// Capture device discovery.
#include "acquisition/CaptureDevices.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace lumenvale {

namespace {

// "video12" -> 12; nothing for names that are not a video node.
std::optional<long> nodeNumber(const std::string& fileName) {
    static constexpr std::string_view Prefix = "video";
    if (fileName.size() <= Prefix.size() || fileName.compare(0, Prefix.size(), Prefix) != 0) {
        return std::nullopt;
    }
    const std::string digits = fileName.substr(Prefix.size());
    if (digits.size() > 6 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return std::stol(digits);
}

std::uint32_t effectiveCaps(const v4l2_capability& cap) {
    return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? cap.device_caps : cap.capabilities;
}

// Whether any picture format of the device offers 640 x 480, listed or inside a range.
bool offers640x480(V4l2Calls& calls, int fd) {
    for (std::uint32_t f = 0; f < 64; ++f) {
        v4l2_fmtdesc format{};
        format.index = f;
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (calls.ioctl(fd, VIDIOC_ENUM_FMT, &format) < 0) {
            // A device that lists no formats is taken at its word when asked for 640 x 480.
            return f == 0;
        }
        for (std::uint32_t s = 0; s < 256; ++s) {
            v4l2_frmsizeenum size{};
            size.index = s;
            size.pixel_format = format.pixelformat;
            if (calls.ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) < 0) {
                break;
            }
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                if (size.discrete.width == 640 && size.discrete.height == 480) {
                    return true;
                }
                continue;
            }
            const auto& r = size.stepwise;
            const auto on = [](std::uint32_t v, std::uint32_t lo, std::uint32_t hi,
                               std::uint32_t step) {
                return v >= lo && v <= hi && (step <= 1 || (v - lo) % step == 0);
            };
            return on(640, r.min_width, r.max_width, r.step_width) &&
                   on(480, r.min_height, r.max_height, r.step_height);
        }
    }
    return false;
}

} // namespace

std::optional<CaptureDevice> ProbeCaptureDevice(V4l2Calls& calls, const std::string& path) {
    const QString fileName = QString::fromStdString(std::filesystem::path(path).filename());
    const int fd = calls.open(path, O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        if (fd == -EACCES || fd == -EPERM) {
            CaptureDevice locked;
            locked.path = path;
            locked.name = fileName;
            locked.accessible = false;
            return locked;
        }
        return std::nullopt;
    }
    v4l2_capability cap{};
    const bool queried = calls.ioctl(fd, VIDIOC_QUERYCAP, &cap) >= 0;
    const std::uint32_t caps = effectiveCaps(cap);
    if (!queried || (caps & V4L2_CAP_VIDEO_CAPTURE) == 0 || (caps & V4L2_CAP_STREAMING) == 0) {
        calls.close(fd);
        return std::nullopt;
    }
    const bool fullSize = offers640x480(calls, fd);
    calls.close(fd);
    const char* card = reinterpret_cast<const char*>(cap.card);
    QString name = QString::fromUtf8(card, int(strnlen(card, sizeof cap.card))).trimmed();
    CaptureDevice device;
    device.path = path;
    device.name = name.isEmpty() ? fileName : name;
    device.has640x480 = fullSize;
    return device;
}

std::vector<CaptureDevice> FindCaptureDevices(V4l2Calls& calls,
                                              const std::filesystem::path& directory) {
    std::vector<std::pair<long, std::string>> nodes;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (const auto number = nodeNumber(it->path().filename().string())) {
            nodes.emplace_back(*number, it->path().string());
        }
    }
    std::sort(nodes.begin(), nodes.end());
    std::vector<CaptureDevice> devices;
    for (const auto& [number, path] : nodes) {
        if (auto device = ProbeCaptureDevice(calls, path)) {
            devices.push_back(std::move(*device));
        }
    }
    return devices;
}

} // namespace lumenvale
