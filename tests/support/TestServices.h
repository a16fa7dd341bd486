// Every service the program's logic reaches, for one test: the real clock (optionally offset,
// e.g. to just below a wrap), a line monitor, the recording port, real window timers, counted
// Return keystrokes (passed on to the active modal window), the real message pump, answered
// message boxes, the real file object and the scripted acquisition library.
#pragma once

#include "support/FakeKeystrokes.h"
#include "support/RecordingMessages.h"
#include "support/RecordingPort.h"
#include "support/ScriptedAcquisition.h"

#include "camera/Services.h"
#include "lines/LineMonitor.h"
#include "platform/Clock.h"
#include "platform/FileSystemObject.h"
#include "platform/MessagePump.h"
#include "platform/WindowTimers.h"

#include <cstdint>

namespace lumenvale::test {

class TestServices {
public:
    explicit TestServices(std::int64_t clockOffsetMs = 0);
    TestServices(const TestServices&) = delete;
    TestServices& operator=(const TestServices&) = delete;

    Services& services() { return services_; }

    SystemClock clock;
    LineMonitor lines;
    RecordingPort port;
    WindowTimers timers;
    FakeKeystrokes keys;
    QtMessagePump pump;
    RecordingMessages messages;
    FileSystemObject files;
    ScriptedAcquisition acquisition;

private:
    Services services_;
};

} // namespace lumenvale::test
