// The outside services the program's logic reaches, handed over together.
#pragma once

namespace lumenvale {

class Acquisition;
class Clock;
class FileSystemObject;
class Keystrokes;
class LineMonitor;
class MessagePump;
class Messages;
class PortIo;
class WindowTimers;

// Borrowed references; the application (or a test) owns the services and outlives users.
struct Services {
    Clock& clock;
    LineMonitor& lines;
    PortIo& port;
    WindowTimers& timers;
    Keystrokes& keys;
    MessagePump& pump;
    Messages& messages;
    FileSystemObject& files;
    Acquisition& acquisition;
};

} // namespace lumenvale
