// The webcam's controls as INDI properties.
#include "indi/ImageAdjustments.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace lumenvale {

namespace {

constexpr const char* FrameRateName = "FRAME_RATE";

} // namespace

struct ImageAdjustments::Property {
    std::uint32_t control = 0; // 0: the frame rate
    bool isSwitch = false;
    bool button = false;
    INumber number{};
    INumberVectorProperty numberVector{};
    std::vector<ISwitch> switches;
    std::vector<std::int64_t> values;     // the control's value each switch stands for
    std::vector<FrameInterval> intervals; // the frame rate's switches
    ISwitchVectorProperty switchVector{};

    const char* name() const { return isSwitch ? switchVector.name : numberVector.name; }
};

ImageAdjustments::ImageAdjustments() = default;
ImageAdjustments::~ImageAdjustments() = default;

std::string ImageAdjustments::nameOf(std::uint32_t control) {
    char name[32]{};
    std::snprintf(name, sizeof name, "V4L2_CTRL_%08X", control);
    return name;
}

void ImageAdjustments::build(const char* device, const std::vector<CameraControl>& controls,
                             const std::vector<FrameInterval>& intervals,
                             std::optional<FrameInterval> interval) {
    properties_.clear();
    for (const CameraControl& control : controls) {
        auto property = std::make_unique<Property>();
        property->control = control.id;
        const std::string name = nameOf(control.id);
        const QByteArray label = control.name.toUtf8();
        const IPerm permission = control.settable() ? IP_RW : IP_RO;
        ISRule rule = ISR_1OFMANY;
        switch (control.kind) {
        case CameraControl::Kind::Integer:
            IUFillNumber(&property->number, "VALUE", label.constData(), "%.0f",
                         double(control.minimum), double(control.maximum), double(control.step),
                         double(control.value));
            IUFillNumberVector(&property->numberVector, &property->number, 1, device, name.c_str(),
                               label.constData(), Tab, permission, 0, IPS_IDLE);
            properties_.push_back(std::move(property));
            continue;
        case CameraControl::Kind::Boolean:
            property->switches.resize(2);
            IUFillSwitch(&property->switches[0], "ON", "On", ISS_OFF);
            IUFillSwitch(&property->switches[1], "OFF", "Off", ISS_OFF);
            property->values = {1, 0};
            break;
        case CameraControl::Kind::Menu:
        case CameraControl::Kind::IntegerMenu:
            property->switches.resize(control.choices.size());
            for (std::size_t i = 0; i < control.choices.size(); ++i) {
                const CameraControl::Choice& choice = control.choices[i];
                const std::string element =
                    "CHOICE_" + std::to_string(static_cast<long long>(choice.value));
                IUFillSwitch(&property->switches[i], element.c_str(),
                             choice.name.toUtf8().constData(), ISS_OFF);
                property->values.push_back(choice.value);
            }
            break;
        case CameraControl::Kind::Button:
            property->switches.resize(1);
            IUFillSwitch(&property->switches[0], "PRESS", label.constData(), ISS_OFF);
            property->values = {1};
            property->button = true;
            rule = ISR_ATMOST1;
            break;
        }
        if (property->switches.empty()) {
            continue; // a menu without entries offers nothing to choose
        }
        property->isSwitch = true;
        IUFillSwitchVector(&property->switchVector, property->switches.data(),
                           int(property->switches.size()), device, name.c_str(), label.constData(),
                           Tab, permission, rule, 0, IPS_IDLE);
        properties_.push_back(std::move(property));
    }
    if (intervals.size() > 1) {
        auto property = std::make_unique<Property>();
        property->isSwitch = true;
        property->intervals = intervals;
        property->switches.resize(intervals.size());
        for (std::size_t i = 0; i < intervals.size(); ++i) {
            const std::string element = "INTERVAL_" + std::to_string(intervals[i].numerator) + "_" +
                                        std::to_string(intervals[i].denominator);
            IUFillSwitch(&property->switches[i], element.c_str(),
                         intervals[i].describe().toUtf8().constData(), ISS_OFF);
        }
        IUFillSwitchVector(&property->switchVector, property->switches.data(),
                           int(property->switches.size()), device, FrameRateName, "Frame rate", Tab,
                           IP_RW, ISR_1OFMANY, 0, IPS_IDLE);
        properties_.push_back(std::move(property));
    }
    update(controls, interval);
}

void ImageAdjustments::update(const std::vector<CameraControl>& controls,
                              std::optional<FrameInterval> interval, const char* refused) {
    for (const auto& property : properties_) {
        IPState state = IPS_OK;
        if (property->control == 0) {
            for (std::size_t i = 0; i < property->intervals.size(); ++i) {
                property->switches[i].s = property->intervals[i] == interval ? ISS_ON : ISS_OFF;
            }
        } else {
            const auto control =
                std::find_if(controls.begin(), controls.end(),
                             [&](const CameraControl& c) { return c.id == property->control; });
            if (control == controls.end()) {
                state = IPS_ALERT; // the camera no longer offers it
            } else {
                state = control->inactive ? IPS_IDLE : IPS_OK;
                property->number.value = double(control->value);
                for (std::size_t i = 0; i < property->switches.size(); ++i) {
                    property->switches[i].s =
                        !property->button && property->values[i] == control->value ? ISS_ON
                                                                                   : ISS_OFF;
                }
            }
        }
        if (refused != nullptr && std::strcmp(refused, property->name()) == 0) {
            state = IPS_ALERT;
        }
        (property->isSwitch ? property->switchVector.s : property->numberVector.s) = state;
    }
}

void ImageAdjustments::define(INDI::DefaultDevice& device) {
    for (const auto& property : properties_) {
        if (property->isSwitch) {
            device.defineProperty(&property->switchVector);
        } else {
            device.defineProperty(&property->numberVector);
        }
    }
}

void ImageAdjustments::remove(INDI::DefaultDevice& device) {
    for (const auto& property : properties_) {
        device.deleteProperty(property->name());
    }
}

void ImageAdjustments::send() {
    for (const auto& property : properties_) {
        if (property->isSwitch) {
            IDSetSwitch(&property->switchVector, nullptr);
        } else {
            IDSetNumber(&property->numberVector, nullptr);
        }
    }
}

void ImageAdjustments::save(FILE* fp, const KeptCameraSettings& kept) const {
    for (const auto& property : properties_) {
        const bool isKept = property->control == 0 ? kept.interval.has_value()
                                                   : kept.values.contains(property->control);
        if (!isKept) {
            continue;
        }
        if (property->isSwitch) {
            IUSaveConfigSwitch(fp, &property->switchVector);
        } else {
            IUSaveConfigNumber(fp, &property->numberVector);
        }
    }
}

std::vector<std::string> ImageAdjustments::names() const {
    std::vector<std::string> names;
    for (const auto& property : properties_) {
        names.emplace_back(property->name());
    }
    return names;
}

ImageAdjustments::Property* ImageAdjustments::find(const char* name) const {
    const auto it = std::find_if(properties_.begin(), properties_.end(), [name](const auto& p) {
        return std::strcmp(p->name(), name) == 0;
    });
    return it == properties_.end() ? nullptr : it->get();
}

bool ImageAdjustments::owns(const char* name) const {
    return find(name) != nullptr;
}

std::optional<ImageAdjustments::Request>
ImageAdjustments::numberRequest(const char* name, const double values[], int n) const {
    const Property* property = find(name);
    if (property == nullptr || property->isSwitch || n < 1) {
        return std::nullopt;
    }
    // Within the range the property gives, as IUUpdateNumber would hold it.
    const double value = std::clamp(values[0], property->number.min, property->number.max);
    return Request{property->control, std::llround(value), std::nullopt};
}

std::optional<ImageAdjustments::Request> ImageAdjustments::switchRequest(const char* name,
                                                                         const ISState states[],
                                                                         char* const names[],
                                                                         int n) const {
    Property* property = find(name);
    if (property == nullptr || !property->isSwitch) {
        return std::nullopt;
    }
    for (int i = 0; i < n; ++i) {
        const ISwitch* chosen = IUFindSwitch(&property->switchVector, names[i]);
        if (states[i] != ISS_ON || chosen == nullptr) {
            continue;
        }
        const auto index = std::size_t(chosen - property->switches.data());
        if (property->control == 0) {
            return Request{0, 0, property->intervals[index]};
        }
        return Request{property->control, property->values[index], std::nullopt};
    }
    return std::nullopt;
}

} // namespace lumenvale
