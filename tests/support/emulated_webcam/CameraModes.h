// The modes the emulated webcam offers and how it answers the format questions, as the UVC
// driver does: an unknown format falls back to the first, a size to the nearest offered.
#pragma once

#include "EmulatorSettings.h"
#include "FramePainter.h"

#include <linux/videodev2.h>

namespace lumenvale::emulated {

class CameraModes {
public:
    explicit CameraModes(const EmulatorSettings& settings);

    FrameMode defaultMode() const;
    // The ioctl answers: 0 or -errno.
    int enumFormat(v4l2_fmtdesc& desc) const;
    int enumFrameSize(v4l2_frmsizeenum& size) const;
    int enumFrameInterval(v4l2_frmivalenum& interval) const;
    // Adjusts `format` to the nearest mode and fills in its layout.
    int tryFormat(v4l2_format& format) const;
    static void describe(const FrameMode& mode, v4l2_pix_format& pix);

private:
    bool offers(std::uint32_t fourcc) const;
    bool offers(std::uint32_t width, std::uint32_t height) const;

    const EmulatorSettings& settings_;
};

} // namespace lumenvale::emulated
