// Format negotiation of the emulated webcam.
#include "CameraModes.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace lumenvale::emulated {

namespace {

const char* description(std::uint32_t fourcc) {
    switch (fourcc) {
    case V4L2_PIX_FMT_YUYV:
        return "YUYV 4:2:2";
    case V4L2_PIX_FMT_MJPEG:
        return "Motion-JPEG";
    case V4L2_PIX_FMT_GREY:
        return "8-bit Greyscale";
    default:
        return "8-bit Bayer BGBG/GRGR";
    }
}

} // namespace

CameraModes::CameraModes(const EmulatorSettings& settings) : settings_(settings) {}

FrameMode CameraModes::defaultMode() const {
    return {settings_.formats.front(), settings_.sizes.front().width,
            settings_.sizes.front().height};
}

bool CameraModes::offers(std::uint32_t fourcc) const {
    return std::find(settings_.formats.begin(), settings_.formats.end(), fourcc) !=
           settings_.formats.end();
}

bool CameraModes::offers(std::uint32_t width, std::uint32_t height) const {
    return std::any_of(settings_.sizes.begin(), settings_.sizes.end(),
                       [&](const FrameSize& s) { return s.width == width && s.height == height; });
}

int CameraModes::enumFormat(v4l2_fmtdesc& desc) const {
    if (desc.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || desc.index >= settings_.formats.size()) {
        return -EINVAL;
    }
    const std::uint32_t index = desc.index;
    std::memset(&desc, 0, sizeof desc);
    desc.index = index;
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    desc.pixelformat = settings_.formats[index];
    desc.flags = desc.pixelformat == V4L2_PIX_FMT_MJPEG ? V4L2_FMT_FLAG_COMPRESSED : 0;
    std::strncpy(reinterpret_cast<char*>(desc.description), description(desc.pixelformat),
                 sizeof desc.description - 1);
    return 0;
}

int CameraModes::enumFrameSize(v4l2_frmsizeenum& size) const {
    if (!offers(size.pixel_format) || size.index >= settings_.sizes.size()) {
        return -EINVAL;
    }
    size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
    size.discrete.width = settings_.sizes[size.index].width;
    size.discrete.height = settings_.sizes[size.index].height;
    return 0;
}

std::vector<v4l2_fract> CameraModes::intervals(const FrameMode& mode) const {
    const bool limited = mode.fourcc != V4L2_PIX_FMT_MJPEG && mode.width * mode.height > 640 * 480;
    std::vector<std::uint32_t> rates;
    for (const std::uint32_t rate : {30U, 15U, 10U, 5U, std::uint32_t(settings_.fps)}) {
        if ((!limited || rate <= 10 || rate == std::uint32_t(settings_.fps)) &&
            std::find(rates.begin(), rates.end(), rate) == rates.end()) {
            rates.push_back(rate);
        }
    }
    std::sort(rates.begin(), rates.end(), std::greater<>());
    std::vector<v4l2_fract> result;
    result.reserve(rates.size());
    for (const std::uint32_t rate : rates) {
        result.push_back({1, rate});
    }
    return result;
}

v4l2_fract CameraModes::nearestInterval(const FrameMode& mode, v4l2_fract wanted) const {
    // In the driver's units of 100 ns; of two as near, the slower.
    const auto units = [](v4l2_fract f) {
        return f.denominator == 0
                   ? std::int64_t(UINT32_MAX)
                   : std::min<std::int64_t>(std::int64_t(f.numerator) * 10'000'000 / f.denominator,
                                            UINT32_MAX);
    };
    const std::vector<v4l2_fract> offered = intervals(mode);
    v4l2_fract best = offered.front();
    for (const v4l2_fract& interval : offered) {
        if (std::abs(units(interval) - units(wanted)) <= std::abs(units(best) - units(wanted))) {
            best = interval;
        }
    }
    return best;
}

int CameraModes::enumFrameInterval(v4l2_frmivalenum& interval) const {
    if (!offers(interval.pixel_format) || !offers(interval.width, interval.height)) {
        return -EINVAL;
    }
    const std::vector<v4l2_fract> offered =
        intervals({interval.pixel_format, interval.width, interval.height});
    if (interval.index >= offered.size()) {
        return -EINVAL;
    }
    interval.type = V4L2_FRMIVAL_TYPE_DISCRETE;
    interval.discrete = offered[interval.index];
    return 0;
}

int CameraModes::tryFormat(v4l2_format& format) const {
    if (format.type != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
        return -EINVAL;
    }
    v4l2_pix_format& pix = format.fmt.pix;
    FrameMode mode{offers(pix.pixelformat) ? pix.pixelformat : settings_.formats.front(), 0, 0};
    // The UVC driver's choice: the size that leaves the least area uncovered either way.
    std::int64_t best = -1;
    for (const FrameSize& size : settings_.sizes) {
        const std::int64_t common =
            std::int64_t(std::min(size.width, pix.width)) * std::min(size.height, pix.height);
        const std::int64_t distance = std::int64_t(size.width) * size.height +
                                      std::int64_t(pix.width) * pix.height - 2 * common;
        if (best < 0 || distance < best) {
            best = distance;
            mode.width = size.width;
            mode.height = size.height;
        }
    }
    describe(mode, pix);
    return 0;
}

void CameraModes::describe(const FrameMode& mode, v4l2_pix_format& pix) {
    std::memset(&pix, 0, sizeof pix);
    pix.width = mode.width;
    pix.height = mode.height;
    pix.pixelformat = mode.fourcc;
    pix.field = V4L2_FIELD_NONE;
    pix.bytesperline = FramePainter::bytesPerLine(mode);
    pix.sizeimage = FramePainter::sizeImage(mode);
    pix.colorspace = V4L2_COLORSPACE_SRGB;
}

} // namespace lumenvale::emulated
