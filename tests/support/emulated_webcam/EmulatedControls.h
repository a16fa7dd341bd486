// The emulated webcam's own controls, as the UVC driver reports a typical webcam's: the user
// class (brightness, contrast, gain, white balance, backlight compensation, power line
// frequency) and the camera class (the automatic exposure and its manual time, the exposure's
// priority over the frame rate, a pan/tilt reset button, a read-only privacy switch and an
// integer menu of exposure bias), with the driver's answers and errors:
// - an integer out of range is clamped (and rounded to its step), a boolean taken as 0 or 1;
// - a menu index out of range is ERANGE, one the camera leaves out EINVAL;
// - a control the camera cannot read (the button) or write (privacy), or a class, is EACCES;
// - setting a manual value while its automatic mode runs is EACCES (it is INACTIVE);
// - error_idx as the driver sets it: the control at fault for TRY_EXT_CTRLS; for G_EXT_CTRLS
//   and S_EXT_CTRLS the count when the call was refused before reaching the camera, and the
//   control at fault when the camera refused its value (EMUCAM_REFUSE: EIO).
// The values are the camera's: they stay across opens and closes of the device.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace lumenvale::emulated {

// The id of the control of that name (as QUERYCTRL gives it, any case) or hex id ("0x980913").
std::optional<std::uint32_t> ControlIdOf(std::string_view nameOrId);

struct ControlInfo;

// One value the camera took.
struct ControlChange {
    std::uint32_t id = 0;
    std::int32_t value = 0;
};

class EmulatedControls {
public:
    // Every control at its default; setting `refused` fails with EIO (0: none).
    explicit EmulatedControls(std::uint32_t refused = 0);

    // Answers one of the control requests (QUERYCTRL, QUERY_EXT_CTRL, QUERYMENU, G_CTRL, S_CTRL,
    // G_EXT_CTRLS, S_EXT_CTRLS, TRY_EXT_CTRLS): 0 or -errno. The values set are added to
    // `changes`.
    int ioctl(unsigned long request, void* arg, std::vector<ControlChange>& changes);

    // The current value of a control; nothing for an unknown id.
    std::optional<std::int32_t> value(std::uint32_t id) const;

private:
    static const ControlInfo* find(std::uint32_t id);
    int query(v4l2_query_ext_ctrl& query) const;
    int queryMenu(v4l2_querymenu& menu) const;
    int extended(unsigned long request, v4l2_ext_controls& controls,
                 std::vector<ControlChange>& changes);
    int access(unsigned long request, const v4l2_ext_controls& controls, std::uint32_t at) const;
    bool inactive(const ControlInfo& info) const;

    std::map<std::uint32_t, std::int32_t> values_;
    std::uint32_t refused_;
};

} // namespace lumenvale::emulated
