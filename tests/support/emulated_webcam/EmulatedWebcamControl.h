// Test-side control of the emulated webcam when it is preloaded: reconfiguring it between cases
// and reading its event counts and control values. Without it every call answers false, -1 or
// nothing.
#pragma once

#include <dlfcn.h>

#include <optional>
#include <string>

namespace lumenvale::test {

inline bool EmulatedWebcamPreloaded() {
    return dlsym(RTLD_DEFAULT, "emucam_configure") != nullptr;
}

// "KEY=VALUE;KEY=VALUE", the keys of the emulator's environment; the camera is unplugged and
// plugged in again with them. False when the emulator is absent, a setting is wrong, or the
// camera is streaming.
inline bool ConfigureEmulatedWebcam(const std::string& settings) {
    using Configure = int (*)(const char*);
    const auto configure = reinterpret_cast<Configure>(dlsym(RTLD_DEFAULT, "emucam_configure"));
    return configure != nullptr && configure(settings.c_str()) == 0;
}

// How often an event happened since the camera was last configured ("streamon", "delivered",
// ...); -1 when the emulator is absent or never counted it.
inline int EmulatedWebcamCount(const std::string& name) {
    using Counter = int (*)(const char*);
    const auto counter = reinterpret_cast<Counter>(dlsym(RTLD_DEFAULT, "emucam_counter"));
    return counter == nullptr ? -1 : counter(name.c_str());
}

// The camera's own value of a control (V4L2_CID_GAIN, ...), as set through any open file;
// nothing when the emulator is absent or the camera has no such control.
inline std::optional<long long> EmulatedWebcamControlValue(unsigned id) {
    using Control = int (*)(unsigned, long long*);
    const auto control = reinterpret_cast<Control>(dlsym(RTLD_DEFAULT, "emucam_control"));
    long long value = 0;
    if (control == nullptr || control(id, &value) != 0) {
        return std::nullopt;
    }
    return value;
}

} // namespace lumenvale::test
