// The webcam's own controls and frame rate as the properties of the "Image Adjustments" tab:
// one vector a control, named after the control's id so that the configuration finds it again
// with any camera that has it, and one for the frame rate. Their values and states are the
// camera's as last read; an inactive control (the exposure while the automatic one runs) is
// Idle.
#pragma once

#include "acquisition/CameraControls.h"

#include <libindi/defaultdevice.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumenvale {

class ImageAdjustments {
public:
    static constexpr const char* Tab = "Image Adjustments";

    // What a client asked of one of the properties: a control's value (a button pressed), or
    // a frame rate.
    struct Request {
        std::uint32_t control = 0;
        std::int64_t value = 0;
        std::optional<FrameInterval> interval;
    };

    ImageAdjustments();
    ~ImageAdjustments();
    ImageAdjustments(const ImageAdjustments&) = delete;
    ImageAdjustments& operator=(const ImageAdjustments&) = delete;

    // The properties of `controls`, and of the frame rate when the camera offers a choice, in
    // place of those built before (deleted from the clients first by remove()).
    void build(const char* device, const std::vector<CameraControl>& controls,
               const std::vector<FrameInterval>& intervals, std::optional<FrameInterval> interval);
    // Values and states as the camera gives them now; the property `refused` turns Alert.
    void update(const std::vector<CameraControl>& controls, std::optional<FrameInterval> interval,
                const char* refused = nullptr);

    void define(INDI::DefaultDevice& device);
    void remove(INDI::DefaultDevice& device);
    // Tells the clients the values and states of every property.
    void send();
    // The properties of what `kept` holds, for the driver's configuration.
    void save(FILE* fp, const KeptCameraSettings& kept) const;

    // The properties' names, for loading them from the configuration.
    std::vector<std::string> names() const;
    bool owns(const char* name) const;
    // What a client's new values of `name` ask; nothing when they ask nothing (a button let
    // go) or are not this tab's.
    std::optional<Request> numberRequest(const char* name, const double values[], int n) const;
    std::optional<Request> switchRequest(const char* name, const ISState states[],
                                         char* const names[], int n) const;
    // The name of a control's property, "V4L2_CTRL_00980913".
    static std::string nameOf(std::uint32_t control);

private:
    struct Property;
    Property* find(const char* name) const;

    std::vector<std::unique_ptr<Property>> properties_;
};

} // namespace lumenvale
