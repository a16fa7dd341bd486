// The three settings kept in "config.dat".
#pragma once

#include <cstdint>
#include <string>

namespace lumenvale {

struct Settings {
    std::int16_t DeinterlaceOrder = 1; // 2 exchanges the hi-res fields before weaving
    std::string SaveDir;               // directory of auto-saved frames
    std::int16_t PlainWindows = 1;     // 2: windows without background pictures

    bool operator==(const Settings&) const = default;
};

} // namespace lumenvale
