// The message pump on Qt's event loop.
#include "platform/MessagePump.h"

#include "platform/KernelTimer.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>

namespace lumenvale {

void QtMessagePump::DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtMessagePump::waitForEvents(int timeoutMs) {
    if (timeoutMs <= 0) {
        DoEvents();
        return;
    }
    // The wake-up is a kernel timer, due to the microsecond, and one of this call's own: a
    // handler run meanwhile may wait in turn. Any window event wakes the loop earlier.
    KernelTimer wake([] {});
    wake.startOnce(std::chrono::milliseconds(timeoutMs));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace lumenvale
