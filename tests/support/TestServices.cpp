// The bundle of test services.
#include "support/TestServices.h"

namespace lumenvale::test {

TestServices::TestServices(std::int64_t clockOffsetMs)
    : clock(clockOffsetMs), port(lines, clock), services_{clock, lines,    port,  timers,     keys,
                                                          pump,  messages, files, acquisition} {}

} // namespace lumenvale::test
