// Capture device discovery.
#include "platform/acquisition/CaptureDevices.h"

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

} // namespace

std::optional<CaptureDevice> ProbeCaptureDevice(V4l2Calls& calls, const std::string& path) {
    const QString fileName = QString::fromStdString(std::filesystem::path(path).filename());
    const int fd = calls.openDevice(path, O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM) {
            return CaptureDevice{path, fileName, false};
        }
        return std::nullopt;
    }
    v4l2_capability cap{};
    const bool queried = calls.ioctlDevice(fd, VIDIOC_QUERYCAP, &cap) == 0;
    calls.closeDevice(fd);
    if (!queried) {
        return std::nullopt;
    }
    const std::uint32_t caps = effectiveCaps(cap);
    if ((caps & V4L2_CAP_VIDEO_CAPTURE) == 0 || (caps & V4L2_CAP_STREAMING) == 0) {
        return std::nullopt;
    }
    const char* card = reinterpret_cast<const char*>(cap.card);
    QString name = QString::fromUtf8(card, int(strnlen(card, sizeof cap.card))).trimmed();
    return CaptureDevice{path, name.isEmpty() ? fileName : name, true};
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
