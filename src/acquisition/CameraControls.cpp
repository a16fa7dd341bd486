// A camera's controls through V4L2, and the kept settings applied to a camera.
#include "acquisition/CameraControls.h"

#include "acquisition/V4l2Calls.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumenvale {

namespace {

// Menus longer than this are not real menus.
constexpr std::int64_t MaxMenuEntries = 256;
constexpr std::uint32_t MaxFrameIntervals = 64;

QString reasonOf(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString textOf(const std::uint8_t* text, std::size_t size) {
    const auto* chars = reinterpret_cast<const char*>(text);
    return QString::fromUtf8(chars, qsizetype(strnlen(chars, size)));
}

std::optional<CameraControl::Kind> kindOf(std::uint32_t type) {
    switch (type) {
    case V4L2_CTRL_TYPE_INTEGER:
    case V4L2_CTRL_TYPE_INTEGER64:
        return CameraControl::Kind::Integer;
    case V4L2_CTRL_TYPE_BOOLEAN:
        return CameraControl::Kind::Boolean;
    case V4L2_CTRL_TYPE_MENU:
        return CameraControl::Kind::Menu;
    case V4L2_CTRL_TYPE_INTEGER_MENU:
        return CameraControl::Kind::IntegerMenu;
    case V4L2_CTRL_TYPE_BUTTON:
        return CameraControl::Kind::Button;
    default:
        return std::nullopt; // classes, strings, bitmasks and compound controls
    }
}

bool isMenu(const CameraControl& control) {
    return control.kind == CameraControl::Kind::Menu ||
           control.kind == CameraControl::Kind::IntegerMenu;
}

std::int64_t nearest(const CameraControl& control, std::int64_t value) {
    if (isMenu(control) && !control.choices.empty()) {
        const auto it = std::find_if(control.choices.begin(), control.choices.end(),
                                     [value](const auto& c) { return c.value == value; });
        return it != control.choices.end() ? value : control.choices.front().value;
    }
    return std::clamp(value, control.minimum, control.maximum);
}

} // namespace

QString FrameInterval::describe() const {
    return QStringLiteral("%1 frames/s").arg(framesPerSecond(), 0, 'g', 4);
}

V4l2ControlSet::V4l2ControlSet(V4l2Calls& calls, int fd, std::uint32_t pixelFormat, int width,
                               int height)
    : calls_(calls), fd_(fd), pixelFormat_(pixelFormat), width_(width), height_(height) {}

std::optional<CameraControl> V4l2ControlSet::query(std::uint32_t& id) {
    v4l2_query_ext_ctrl query{};
    query.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
    int result = calls_.ioctl(fd_, VIDIOC_QUERY_EXT_CTRL, &query);
    if (result == -ENOTTY) {
        // A driver older than the extended query answers the plain one.
        v4l2_queryctrl plain{};
        plain.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
        result = calls_.ioctl(fd_, VIDIOC_QUERYCTRL, &plain);
        query.id = plain.id;
        query.type = plain.type;
        std::memcpy(query.name, plain.name, sizeof plain.name);
        query.minimum = plain.minimum;
        query.maximum = plain.maximum;
        query.step = std::uint64_t(std::max(plain.step, 0));
        query.default_value = plain.default_value;
        query.flags = plain.flags;
    }
    if (result < 0 || query.id <= id) {
        id = 0; // the last one, or a driver that would go round for ever
        return std::nullopt;
    }
    id = query.id;
    const auto kind = kindOf(query.type);
    if (!kind || (query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_HAS_PAYLOAD)) != 0) {
        return CameraControl{}; // passed over: id 0
    }
    CameraControl control;
    control.id = query.id;
    control.kind = *kind;
    control.name = textOf(reinterpret_cast<const std::uint8_t*>(query.name), sizeof query.name);
    control.minimum = query.minimum;
    control.maximum = query.maximum;
    control.step = std::int64_t(std::max<std::uint64_t>(query.step, 1));
    control.defaultValue = query.default_value;
    control.readOnly = (query.flags & V4L2_CTRL_FLAG_READ_ONLY) != 0;
    control.inactive = (query.flags & V4L2_CTRL_FLAG_INACTIVE) != 0;
    control.grabbed = (query.flags & V4L2_CTRL_FLAG_GRABBED) != 0;
    if (control.kind == CameraControl::Kind::Boolean) {
        control.minimum = 0;
        control.maximum = 1;
    }
    if (isMenu(control) && control.maximum - control.minimum < MaxMenuEntries) {
        for (std::int64_t index = control.minimum; index <= control.maximum; ++index) {
            v4l2_querymenu item{};
            item.id = control.id;
            item.index = std::uint32_t(index);
            if (calls_.ioctl(fd_, VIDIOC_QUERYMENU, &item) < 0) {
                continue; // an index the menu skips
            }
            const QString name = control.kind == CameraControl::Kind::Menu
                                     ? textOf(item.name, sizeof item.name)
                                     : QString::number(static_cast<long long>(item.value));
            control.choices.push_back({index, name});
        }
    }
    const bool writeOnly = (query.flags & V4L2_CTRL_FLAG_WRITE_ONLY) != 0;
    if (control.kind != CameraControl::Kind::Button && !writeOnly) {
        v4l2_ext_control value{};
        value.id = control.id;
        v4l2_ext_controls request{};
        request.which = V4L2_CTRL_WHICH_CUR_VAL;
        request.count = 1;
        request.controls = &value;
        if (calls_.ioctl(fd_, VIDIOC_G_EXT_CTRLS, &request) == 0) {
            control.value = query.type == V4L2_CTRL_TYPE_INTEGER64 ? value.value64 : value.value;
        } else {
            v4l2_control plain{control.id, 0};
            control.value =
                calls_.ioctl(fd_, VIDIOC_G_CTRL, &plain) == 0 ? plain.value : control.defaultValue;
        }
    }
    return control;
}

std::vector<CameraControl> V4l2ControlSet::controls() {
    std::vector<CameraControl> found;
    for (std::uint32_t id = 0;;) {
        std::optional<CameraControl> control = query(id);
        if (!control) {
            break;
        }
        if (control->id != 0) {
            found.push_back(std::move(*control));
        }
    }
    return found;
}

std::optional<QString> V4l2ControlSet::set(std::uint32_t id, std::int64_t value) {
    v4l2_ext_control control{};
    control.id = id;
    control.value64 = value; // the 32-bit value shares its bytes, as the kernel reads it
    control.value = std::int32_t(value);
    v4l2_ext_controls request{};
    request.which = V4L2_CTRL_WHICH_CUR_VAL;
    request.count = 1;
    request.controls = &control;
    int result = calls_.ioctl(fd_, VIDIOC_S_EXT_CTRLS, &request);
    if (result == -ENOTTY) {
        v4l2_control plain{id, std::int32_t(value)};
        result = calls_.ioctl(fd_, VIDIOC_S_CTRL, &plain);
    }
    if (result < 0) {
        return reasonOf(-result);
    }
    return std::nullopt;
}

std::vector<FrameInterval> V4l2ControlSet::frameIntervals() {
    std::vector<FrameInterval> intervals;
    for (std::uint32_t index = 0; index < MaxFrameIntervals; ++index) {
        v4l2_frmivalenum entry{};
        entry.index = index;
        entry.pixel_format = pixelFormat_;
        entry.width = std::uint32_t(width_);
        entry.height = std::uint32_t(height_);
        if (calls_.ioctl(fd_, VIDIOC_ENUM_FRAMEINTERVALS, &entry) < 0) {
            break;
        }
        if (entry.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            intervals.push_back({entry.discrete.numerator, entry.discrete.denominator});
            continue;
        }
        // A range: its two ends, which are what a user of a modified camera chooses between.
        intervals.push_back({entry.stepwise.max.numerator, entry.stepwise.max.denominator});
        intervals.push_back({entry.stepwise.min.numerator, entry.stepwise.min.denominator});
        break;
    }
    std::erase_if(intervals,
                  [](FrameInterval i) { return i.numerator == 0 || i.denominator == 0; });
    std::sort(intervals.begin(), intervals.end(), [](FrameInterval a, FrameInterval b) {
        return a.framesPerSecond() < b.framesPerSecond();
    });
    intervals.erase(std::unique(intervals.begin(), intervals.end()), intervals.end());
    return intervals;
}

std::optional<FrameInterval> V4l2ControlSet::frameInterval() {
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (calls_.ioctl(fd_, VIDIOC_G_PARM, &parm) < 0 ||
        (parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME) == 0 ||
        parm.parm.capture.timeperframe.denominator == 0) {
        return std::nullopt;
    }
    return FrameInterval{parm.parm.capture.timeperframe.numerator,
                         parm.parm.capture.timeperframe.denominator};
}

std::optional<QString> V4l2ControlSet::setFrameInterval(FrameInterval interval) {
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parm.parm.capture.timeperframe = {interval.numerator, interval.denominator};
    if (const int result = calls_.ioctl(fd_, VIDIOC_S_PARM, &parm); result < 0) {
        return reasonOf(-result);
    }
    return std::nullopt;
}

QString CameraIdentity::key() const {
    return QStringLiteral("%1|%2|%3").arg(driver, card, bus);
}

std::optional<CameraIdentity> CameraIdentity::of(V4l2Calls& calls, int fd) {
    v4l2_capability cap{};
    if (calls.ioctl(fd, VIDIOC_QUERYCAP, &cap) < 0) {
        return std::nullopt;
    }
    return CameraIdentity{textOf(cap.driver, sizeof cap.driver), textOf(cap.card, sizeof cap.card),
                          textOf(cap.bus_info, sizeof cap.bus_info)};
}

std::vector<std::pair<std::uint32_t, std::int64_t>>
LongExposureValues(const std::vector<CameraControl>& controls) {
    std::vector<std::pair<std::uint32_t, std::int64_t>> values;
    for (const CameraControl& control : controls) {
        if (!control.settable() || control.kind == CameraControl::Kind::Button) {
            continue;
        }
        std::optional<std::int64_t> wanted;
        switch (control.id) {
        case V4L2_CID_EXPOSURE_AUTO: {
            // Manual where the camera has it, else the exposure fixed and the iris automatic.
            for (const std::int64_t mode : {V4L2_EXPOSURE_MANUAL, V4L2_EXPOSURE_SHUTTER_PRIORITY}) {
                if (nearest(control, mode) == mode) {
                    wanted = mode;
                    break;
                }
            }
            break;
        }
        case V4L2_CID_AUTO_N_PRESET_WHITE_BALANCE:
            wanted = V4L2_WHITE_BALANCE_MANUAL;
            break;
        case V4L2_CID_AUTOGAIN:
        case V4L2_CID_AUTO_WHITE_BALANCE:
        case V4L2_CID_EXPOSURE_AUTO_PRIORITY:
        case V4L2_CID_AUTOBRIGHTNESS:
        case V4L2_CID_HUE_AUTO:
        case V4L2_CID_BACKLIGHT_COMPENSATION:
            wanted = control.minimum;
            break;
        default:
            // Drivers name their own noise reduction; it smears faint stars.
            if (control.name.contains(QLatin1String("noise"), Qt::CaseInsensitive) &&
                !isMenu(control)) {
                wanted = control.minimum;
            }
            break;
        }
        if (wanted && nearest(control, *wanted) == *wanted) {
            values.emplace_back(control.id, *wanted);
        }
    }
    return values;
}

AppliedSettings ApplyKeptSettings(CameraControlSet& camera, KeptCameraSettings& kept) {
    AppliedSettings applied;
    const std::vector<CameraControl> controls = camera.controls();
    auto find = [&controls](std::uint32_t id) {
        const auto it = std::find_if(controls.begin(), controls.end(),
                                     [id](const CameraControl& c) { return c.id == id; });
        return it == controls.end() ? nullptr : &*it;
    };
    // At the first use, what fights a long exposure is kept turned off, even where it already
    // is: a camera plugged in again starts from its own defaults.
    std::vector<std::uint32_t> turningOff;
    if (!kept.prepared) {
        for (const auto& [id, value] : LongExposureValues(controls)) {
            kept.values[id] = value;
            turningOff.push_back(id);
        }
        kept.prepared = true;
        applied.keptChanged = true;
    }
    if (kept.interval && camera.frameInterval() != kept.interval) {
        if (const auto refused = camera.setFrameInterval(*kept.interval)) {
            applied.refused.push_back(
                QStringLiteral("Frame rate %1: %2").arg(kept.interval->describe(), *refused));
            kept.interval.reset();
            applied.keptChanged = true;
        }
    }
    std::vector<std::pair<const CameraControl*, std::int64_t>> order;
    for (auto it = kept.values.begin(); it != kept.values.end();) {
        const CameraControl* control = find(it->first);
        if (control == nullptr || !control->settable() ||
            control->kind == CameraControl::Kind::Button) {
            it = kept.values.erase(it); // the camera no longer offers it to be set
            applied.keptChanged = true;
            continue;
        }
        order.emplace_back(control, it->second);
        ++it;
    }
    const auto values = std::stable_partition(
        order.begin(), order.end(), [](const auto& entry) { return entry.first->switchesMode(); });
    std::vector<CameraControl> afterModes;
    for (auto entry = order.begin(); entry != order.end(); ++entry) {
        const auto& [control, value] = *entry;
        if (entry == values && values != order.begin()) {
            // The modes may have made a value count or not: one that does not now stays kept
            // for when it counts again, and is not set (a driver refuses it).
            afterModes = camera.controls();
        }
        if (!afterModes.empty()) {
            const std::uint32_t id = control->id;
            const auto now = std::find_if(afterModes.begin(), afterModes.end(),
                                          [id](const CameraControl& c) { return c.id == id; });
            if (now != afterModes.end() && now->inactive) {
                continue;
            }
        }
        if (control->value == value) {
            continue; // each request is a round trip on the USB bus
        }
        if (const auto refused = camera.set(control->id, value)) {
            applied.refused.push_back(QStringLiteral("%1 %2: %3")
                                          .arg(control->name)
                                          .arg(static_cast<long long>(value))
                                          .arg(*refused));
            kept.values.erase(control->id); // said once; the camera keeps its own value
            applied.keptChanged = true;
        } else if (std::find(turningOff.begin(), turningOff.end(), control->id) !=
                   turningOff.end()) {
            kept.turnedOff.push_back(control->name);
            applied.turnedOff.push_back(control->name);
        }
    }
    return applied;
}

} // namespace lumenvale
