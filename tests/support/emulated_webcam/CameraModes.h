// The modes the emulated webcam offers and how it answers the format questions, as the UVC
// driver does: an unknown format falls back to the first, a size to the nearest offered, a
// frame interval to the nearest the mode offers.
#pragma once

#include "EmulatorSettings.h"
#include "FramePainter.h"

#include <linux/videodev2.h>

#include <vector>

namespace lumenvale::emulated {

class CameraModes {
public:
    explicit CameraModes(const EmulatorSettings& settings);

    FrameMode defaultMode() const;
    // The ioctl answers: 0 or -errno.
    int enumFormat(v4l2_fmtdesc& desc) const;
    int enumFrameSize(v4l2_frmsizeenum& size) const;
    int enumFrameInterval(v4l2_frmivalenum& interval) const;
    // The discrete frame intervals of a mode, fastest first: 1/30, 1/15, 1/10 and 1/5 s and the
    // settings' 1/fps; an uncompressed picture larger than 640 x 480 no faster than 1/10 s,
    // as USB 2 bandwidth allows.
    std::vector<v4l2_fract> intervals(const FrameMode& mode) const;
    // The offered interval nearest `wanted` (a zero denominator: the slowest).
    v4l2_fract nearestInterval(const FrameMode& mode, v4l2_fract wanted) const;
    // Adjusts `format` to the nearest mode and fills in its layout.
    int tryFormat(v4l2_format& format) const;
    static void describe(const FrameMode& mode, v4l2_pix_format& pix);

private:
    bool offers(std::uint32_t fourcc) const;
    bool offers(std::uint32_t width, std::uint32_t height) const;

    const EmulatorSettings& settings_;
};

} // namespace lumenvale::emulated
