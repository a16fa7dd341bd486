// Readable settings in test failure messages.
#pragma once

#include "settings/Settings.h"

#include <ostream>

namespace lumenvale {

inline void PrintTo(const Settings& settings, std::ostream* out) {
    *out << "{order " << settings.DeinterlaceOrder << ", dir \"" << settings.SaveDir << "\", plain "
         << settings.PlainWindows << "}";
}

} // namespace lumenvale
