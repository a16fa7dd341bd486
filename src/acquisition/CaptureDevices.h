// Finding the V4L2 capture devices: every /dev/video* node that says, when asked with
// VIDIOC_QUERYCAP, that it can capture video by streaming.
#pragma once

#include "acquisition/V4l2Calls.h"

#include <QString>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumenvale {

struct CaptureDevice {
    std::string path;       // "/dev/video0"
    QString name;           // the driver's card name, "USB Camera"
    bool accessible = true; // false: it exists but we may not open it (not in the video group)
    // It offers 640 x 480 in some picture format, the size line doubling and weaving assume.
    bool has640x480 = true;
    // Whether its frames were seen with monotonic timestamps; unknown until it has streamed.
    std::optional<bool> timestamped;
};

// The capture devices among the video* nodes of `directory`, in node number order. Nodes we
// may not open are listed (inaccessible) so the user learns why the camera is missing; nodes
// that are not capture devices (metadata, output, codecs) are left out.
std::vector<CaptureDevice> FindCaptureDevices(V4l2Calls& calls,
                                              const std::filesystem::path& directory);

// One node, as FindCaptureDevices judges it; nothing when it is gone or not a capture device.
std::optional<CaptureDevice> ProbeCaptureDevice(V4l2Calls& calls, const std::string& path);

} // namespace lumenvale
