// The 2.x GPIO calls over a fake of libgpiod 2's C calls that reaches a stand-in device, so the
// GPIO tests also run through the 2.x wrapper where the system has libgpiod 1.6.
#pragma once

#include "lines/GpioCalls.h"

#include <memory>

namespace lumenvale::test {

// The 2.x LibGpiodCalls; the chips it opens are `device`'s (one device at a time). It lives in a
// shared library that keeps its symbols to itself, beside the 1.6 one the tests link.
[[gnu::visibility("default")]] std::unique_ptr<GpioCalls> MakeLibgpiod2Calls(GpioCalls& device);

} // namespace lumenvale::test
