// The emulated webcam's controls and the UVC driver's way of answering for them.
#include "EmulatedControls.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace lumenvale::emulated {

struct ControlInfo {
    std::uint32_t id = 0;
    const char* name = "";
    v4l2_ctrl_type type = V4L2_CTRL_TYPE_INTEGER;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t step = 0;
    std::int32_t defaultValue = 0;
    std::uint32_t flags = 0;
    std::vector<const char*> menu = {};      // a menu's names by index; null for one left out
    std::vector<std::int64_t> integers = {}; // an integer menu's values by index
    std::uint32_t master = 0;                // the automatic mode that decides whether it counts
    std::int32_t manual = 0;                 // the master's value in which it does
};

namespace {

// In id order, as NEXT_CTRL walks them.
const std::vector<ControlInfo>& Table() {
    static const std::vector<ControlInfo> table{
        {.id = V4L2_CID_BRIGHTNESS,
         .name = "Brightness",
         .minimum = -64,
         .maximum = 64,
         .step = 1,
         .defaultValue = 0},
        {.id = V4L2_CID_CONTRAST, .name = "Contrast", .maximum = 64, .step = 1, .defaultValue = 32},
        {.id = V4L2_CID_AUTO_WHITE_BALANCE,
         .name = "White Balance, Automatic",
         .type = V4L2_CTRL_TYPE_BOOLEAN,
         .maximum = 1,
         .step = 1,
         .defaultValue = 1},
        {.id = V4L2_CID_GAIN, .name = "Gain", .maximum = 100, .step = 1},
        {.id = V4L2_CID_POWER_LINE_FREQUENCY,
         .name = "Power Line Frequency",
         .type = V4L2_CTRL_TYPE_MENU,
         .maximum = 2,
         .step = 1,
         .defaultValue = 1,
         .menu = {"Disabled", "50 Hz", "60 Hz"}},
        {.id = V4L2_CID_WHITE_BALANCE_TEMPERATURE,
         .name = "White Balance Temperature",
         .minimum = 2800,
         .maximum = 6500,
         .step = 1,
         .defaultValue = 4600,
         .master = V4L2_CID_AUTO_WHITE_BALANCE,
         .manual = 0},
        {.id = V4L2_CID_BACKLIGHT_COMPENSATION,
         .name = "Backlight Compensation",
         .maximum = 2,
         .step = 1,
         .defaultValue = 1},
        // The camera knows manual and aperture priority only: the driver's menu keeps the
        // places of the other two.
        {.id = V4L2_CID_EXPOSURE_AUTO,
         .name = "Auto Exposure",
         .type = V4L2_CTRL_TYPE_MENU,
         .maximum = 3,
         .step = 1,
         .defaultValue = V4L2_EXPOSURE_APERTURE_PRIORITY,
         .menu = {nullptr, "Manual Mode", nullptr, "Aperture Priority Mode"}},
        {.id = V4L2_CID_EXPOSURE_ABSOLUTE,
         .name = "Exposure Time, Absolute",
         .minimum = 3,
         .maximum = 2047,
         .step = 1,
         .defaultValue = 250,
         .master = V4L2_CID_EXPOSURE_AUTO,
         .manual = V4L2_EXPOSURE_MANUAL},
        {.id = V4L2_CID_EXPOSURE_AUTO_PRIORITY,
         .name = "Exposure, Dynamic Framerate",
         .type = V4L2_CTRL_TYPE_BOOLEAN,
         .maximum = 1,
         .step = 1},
        {.id = V4L2_CID_PAN_RESET,
         .name = "Pan, Reset",
         .type = V4L2_CTRL_TYPE_BUTTON,
         .flags = V4L2_CTRL_FLAG_WRITE_ONLY},
        {.id = V4L2_CID_PRIVACY,
         .name = "Privacy",
         .type = V4L2_CTRL_TYPE_BOOLEAN,
         .maximum = 1,
         .step = 1,
         .flags = V4L2_CTRL_FLAG_READ_ONLY},
        // In thousandths of an EV.
        {.id = V4L2_CID_AUTO_EXPOSURE_BIAS,
         .name = "Auto Exposure, Bias",
         .type = V4L2_CTRL_TYPE_INTEGER_MENU,
         .maximum = 4,
         .step = 1,
         .defaultValue = 2,
         .integers = {-2000, -1000, 0, 1000, 2000}},
    };
    return table;
}

struct ControlClass {
    std::uint32_t id;
    const char* name;
};

constexpr ControlClass Classes[] = {{V4L2_CID_USER_CLASS, "User Controls"},
                                    {V4L2_CID_CAMERA_CLASS, "Camera Controls"}};

const ControlClass* classOf(std::uint32_t id) {
    const auto* found = std::find_if(std::begin(Classes), std::end(Classes),
                                     [&](const ControlClass& c) { return c.id == id; });
    return found == std::end(Classes) ? nullptr : found;
}

bool isMenu(const ControlInfo& info) {
    return info.type == V4L2_CTRL_TYPE_MENU || info.type == V4L2_CTRL_TYPE_INTEGER_MENU;
}

// Whether the camera has the menu entry.
bool offers(const ControlInfo& info, std::int64_t index) {
    if (index < info.minimum || index > info.maximum) {
        return false;
    }
    return info.type == V4L2_CTRL_TYPE_INTEGER_MENU || info.menu[std::size_t(index)] != nullptr;
}

// The value the camera would take for `value`: 0 or -errno.
int adjust(const ControlInfo& info, std::int32_t& value) {
    switch (info.type) {
    case V4L2_CTRL_TYPE_INTEGER: {
        const std::int64_t steps = (std::int64_t(value) - info.minimum + info.step / 2) / info.step;
        value = std::int32_t(std::clamp<std::int64_t>(
            std::int64_t(info.minimum) + steps * info.step, info.minimum, info.maximum));
        return 0;
    }
    case V4L2_CTRL_TYPE_BOOLEAN:
        value = std::clamp(value, 0, 1);
        return 0;
    case V4L2_CTRL_TYPE_MENU:
    case V4L2_CTRL_TYPE_INTEGER_MENU:
        if (value < info.minimum || value > info.maximum) {
            return -ERANGE;
        }
        return offers(info, value) ? 0 : -EINVAL;
    default:
        return 0; // a button takes anything
    }
}

void copyName(char* out, std::size_t size, const char* name) {
    std::snprintf(out, size, "%s", name);
}

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

std::optional<std::uint32_t> ControlIdOf(std::string_view nameOrId) {
    if (nameOrId.substr(0, 2) == "0x" || nameOrId.substr(0, 2) == "0X") {
        std::uint32_t id = 0;
        const char* end = nameOrId.data() + nameOrId.size();
        const auto [at, error] = std::from_chars(nameOrId.data() + 2, end, id, 16);
        if (error == std::errc{} && at == end) {
            return id;
        }
        return std::nullopt;
    }
    for (const ControlInfo& info : Table()) {
        if (sameName(nameOrId, info.name)) {
            return info.id;
        }
    }
    return std::nullopt;
}

EmulatedControls::EmulatedControls(std::uint32_t refused) : refused_(refused) {
    for (const ControlInfo& info : Table()) {
        values_[info.id] = info.defaultValue;
    }
}

const ControlInfo* EmulatedControls::find(std::uint32_t id) {
    const std::vector<ControlInfo>& table = Table();
    const auto found = std::find_if(table.begin(), table.end(),
                                    [&](const ControlInfo& info) { return info.id == id; });
    return found == table.end() ? nullptr : &*found;
}

std::optional<std::int32_t> EmulatedControls::value(std::uint32_t id) const {
    const auto found = values_.find(id);
    return found == values_.end() ? std::nullopt : std::optional(found->second);
}

bool EmulatedControls::inactive(const ControlInfo& info) const {
    return info.master != 0 && values_.at(info.master) != info.manual;
}

int EmulatedControls::ioctl(unsigned long request, void* arg, std::vector<ControlChange>& changes) {
    switch (request) {
    case VIDIOC_QUERY_EXT_CTRL:
        return query(*static_cast<v4l2_query_ext_ctrl*>(arg));
    case VIDIOC_QUERYCTRL: {
        auto& old = *static_cast<v4l2_queryctrl*>(arg);
        v4l2_query_ext_ctrl ext{};
        ext.id = old.id;
        const int result = query(ext);
        if (result == 0) {
            std::memset(&old, 0, sizeof old);
            old.id = ext.id;
            old.type = ext.type;
            copyName(reinterpret_cast<char*>(old.name), sizeof old.name, ext.name);
            old.minimum = std::int32_t(ext.minimum);
            old.maximum = std::int32_t(ext.maximum);
            old.step = std::int32_t(ext.step);
            old.default_value = std::int32_t(ext.default_value);
            old.flags = ext.flags;
        }
        return result;
    }
    case VIDIOC_QUERYMENU:
        return queryMenu(*static_cast<v4l2_querymenu*>(arg));
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL: {
        // The V4L2 core turns the old calls into one-control extended calls.
        auto& old = *static_cast<v4l2_control*>(arg);
        v4l2_ext_control one{};
        one.id = old.id;
        one.value = old.value;
        v4l2_ext_controls controls{};
        controls.which = V4L2_CTRL_ID2WHICH(old.id);
        controls.count = 1;
        controls.controls = &one;
        const bool read = request == VIDIOC_G_CTRL;
        const int result =
            extended(read ? VIDIOC_G_EXT_CTRLS : VIDIOC_S_EXT_CTRLS, controls, changes);
        if (result == 0 || !read) {
            old.value = one.value;
        }
        return result;
    }
    default:
        return extended(request, *static_cast<v4l2_ext_controls*>(arg), changes);
    }
}

int EmulatedControls::query(v4l2_query_ext_ctrl& query) const {
    const bool next = (query.id & V4L2_CTRL_FLAG_NEXT_CTRL) != 0;
    const std::uint32_t id = query.id & V4L2_CTRL_ID_MASK;
    const ControlClass* controlClass = next ? nullptr : classOf(id);
    const ControlInfo* info = nullptr;
    if (controlClass == nullptr) {
        const std::vector<ControlInfo>& table = Table();
        const auto found = std::find_if(table.begin(), table.end(), [&](const ControlInfo& i) {
            return next ? i.id > id : i.id == id;
        });
        if (found == table.end()) {
            return -EINVAL;
        }
        info = &*found;
        // Walking on, a class comes before its first control.
        for (const ControlClass& c : Classes) {
            if (next && c.id > id && c.id < info->id) {
                controlClass = &c;
                break;
            }
        }
    }
    std::memset(&query, 0, sizeof query);
    query.elem_size = 4;
    query.elems = 1;
    if (controlClass != nullptr) {
        query.id = controlClass->id;
        query.type = V4L2_CTRL_TYPE_CTRL_CLASS;
        copyName(query.name, sizeof query.name, controlClass->name);
        query.flags = V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY;
        return 0;
    }
    query.id = info->id;
    query.type = info->type;
    copyName(query.name, sizeof query.name, info->name);
    query.minimum = info->minimum;
    query.maximum = info->maximum;
    query.step = std::uint64_t(info->step);
    query.default_value = info->defaultValue;
    query.flags = info->flags | (inactive(*info) ? V4L2_CTRL_FLAG_INACTIVE : 0);
    return 0;
}

int EmulatedControls::queryMenu(v4l2_querymenu& menu) const {
    const std::uint32_t id = menu.id;
    const std::uint32_t index = menu.index;
    std::memset(&menu, 0, sizeof menu);
    menu.id = id;
    menu.index = index;
    const ControlInfo* info = find(id);
    if (info == nullptr || !isMenu(*info) || !offers(*info, index)) {
        return -EINVAL;
    }
    if (info->type == V4L2_CTRL_TYPE_MENU) {
        copyName(reinterpret_cast<char*>(menu.name), sizeof menu.name, info->menu[index]);
    } else {
        menu.value = info->integers[index];
    }
    return 0;
}

int EmulatedControls::access(unsigned long request, const v4l2_ext_controls& controls,
                             std::uint32_t at) const {
    const std::uint32_t id = controls.controls[at].id;
    if (classOf(id) != nullptr) {
        return -EACCES;
    }
    const ControlInfo* info = find(id);
    if (info == nullptr) {
        return -EINVAL;
    }
    const bool read = request == VIDIOC_G_EXT_CTRLS;
    if ((info->flags & (read ? V4L2_CTRL_FLAG_WRITE_ONLY : V4L2_CTRL_FLAG_READ_ONLY)) != 0) {
        return -EACCES;
    }
    if (request != VIDIOC_S_EXT_CTRLS || info->master == 0) {
        return 0;
    }
    // A manual value goes with its automatic mode: the mode set in the same call counts (the
    // last one given), else the mode now.
    std::int32_t mode = values_.at(info->master);
    for (std::uint32_t i = 0; i < controls.count; ++i) {
        if (controls.controls[i].id == info->master) {
            mode = controls.controls[i].value;
        }
    }
    return mode == info->manual ? 0 : -EACCES;
}

int EmulatedControls::extended(unsigned long request, v4l2_ext_controls& controls,
                               std::vector<ControlChange>& changes) {
    const bool read = request == VIDIOC_G_EXT_CTRLS;
    const bool tryOnly = request == VIDIOC_TRY_EXT_CTRLS;
    controls.error_idx = controls.count;
    switch (controls.which) {
    case V4L2_CTRL_WHICH_DEF_VAL:
        if (!read) {
            return -EINVAL;
        }
        break;
    case V4L2_CTRL_WHICH_CUR_VAL:
        break;
    case V4L2_CTRL_WHICH_REQUEST_VAL:
        return -EINVAL;
    default:
        // A class: every control must be of it.
        for (std::uint32_t i = 0; i < controls.count; ++i) {
            if (V4L2_CTRL_ID2WHICH(controls.controls[i].id) != controls.which) {
                controls.error_idx = tryOnly ? i : controls.count;
                return -EINVAL;
            }
        }
    }
    if (controls.count == 0) {
        return 0;
    }
    for (std::uint32_t i = 0; i < controls.count; ++i) {
        if (const int error = access(request, controls, i); error != 0) {
            controls.error_idx = tryOnly ? i : controls.count;
            return error;
        }
    }
    if (read) {
        for (std::uint32_t i = 0; i < controls.count; ++i) {
            v4l2_ext_control& control = controls.controls[i];
            control.value = controls.which == V4L2_CTRL_WHICH_DEF_VAL
                                ? find(control.id)->defaultValue
                                : values_.at(control.id);
        }
        controls.error_idx = 0;
        return 0;
    }
    for (std::uint32_t i = 0; i < controls.count; ++i) {
        v4l2_ext_control& control = controls.controls[i];
        std::int32_t value = control.value;
        if (const int error = adjust(*find(control.id), value); error != 0) {
            controls.error_idx = tryOnly ? i : controls.count;
            return error;
        }
        control.value = value;
    }
    controls.error_idx = 0;
    if (tryOnly) {
        return 0;
    }
    // The camera takes the values one by one; one it refuses stops the rest.
    for (std::uint32_t i = 0; i < controls.count; ++i) {
        const v4l2_ext_control& control = controls.controls[i];
        if (control.id == refused_) {
            controls.error_idx = i;
            return -EIO;
        }
        if (find(control.id)->type != V4L2_CTRL_TYPE_BUTTON) {
            values_[control.id] = control.value;
        }
        changes.push_back({control.id, control.value});
    }
    return 0;
}

} // namespace lumenvale::emulated
