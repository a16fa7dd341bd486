// The message pump on Qt's event loop.
#include "platform/MessagePump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace lumenvale {

void QtMessagePump::DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtMessagePump::waitForEvents(int timeoutMs) {
    if (timeoutMs <= 0) {
        DoEvents();
        return;
    }
    // A precise single-shot timer is the wake-up; any window event wakes the loop earlier.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(timeoutMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace lumenvale
