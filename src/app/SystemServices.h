// The real services the program runs on: clock, camera lines (the adapter chosen in the
// acquisition library's source chooser), timers, keystrokes, message pump,
// message boxes, file object and acquisition library.
#pragma once

#include "acquisition/AcquisitionLibrary.h"
#include "acquisition/LibV4l2Calls.h"
#include "camera/Services.h"
#include "lines/FtdiCalls.h"
#include "lines/GpioCalls.h"
#include "lines/HidCalls.h"
#include "lines/LineMonitor.h"
#include "lines/LinePorts.h"
#include "lines/PpdevSyscalls.h"
#include "platform/Clock.h"
#include "platform/FileSystemObject.h"
#include "platform/Keystrokes.h"
#include "platform/MessagePump.h"
#include "platform/Messages.h"
#include "platform/WindowTimers.h"

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
    HidapiCalls hid_;
    LibFtdiCalls ftdi_;
    LibGpiodCalls gpio_;
    LineCalls lineCalls_;
    LibV4l2Calls v4l2_;
    ChosenPort port_;
    WindowTimers timers_;
    QtKeystrokes keys_;
    QtMessagePump pump_;
    QtMessages messages_;
    FileSystemObject files_;
    AcquisitionLibrary acquisition_;
    Services services_;
};

} // namespace lumenvale
