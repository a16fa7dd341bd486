// The real services the program runs on: clock, camera port, timers, keystrokes, message pump,
// message boxes, file object and acquisition library.
#pragma once

#include "platform/Clock.h"
#include "platform/FileSystemObject.h"
#include "platform/Keystrokes.h"
#include "platform/LineMonitor.h"
#include "platform/MessagePump.h"
#include "platform/Messages.h"
#include "platform/PpdevPort.h"
#include "platform/PpdevSyscalls.h"
#include "platform/Services.h"
#include "platform/WindowTimers.h"
#include "platform/acquisition/AcquisitionLibrary.h"
#include "platform/acquisition/LibV4l2Calls.h"

namespace lumenvale {

class SystemServices {
public:
    SystemServices();
    SystemServices(const SystemServices&) = delete;
    SystemServices& operator=(const SystemServices&) = delete;

    Services& services() { return services_; }

private:
    SystemClock clock_;
    LineMonitor lines_;
    KernelPpdevSyscalls ppdev_;
    LibV4l2Calls v4l2_;
    PpdevPort port_;
    WindowTimers timers_;
    QtKeystrokes keys_;
    QtMessagePump pump_;
    QtMessages messages_;
    FileSystemObject files_;
    AcquisitionLibrary acquisition_;
    Services services_;
};

} // namespace lumenvale
