// The line test of the source chooser: opens the chosen adapter and steps it through the
// program's line states slowly, one a second, naming each, so the user can watch the camera or
// a meter; then closes it, leaving the last state on the lines.
#pragma once

#include "lines/LineMapping.h"
#include "lines/LineMonitor.h"
#include "lines/PortIo.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace lumenvale {

class Clock;
struct LineCalls;

class LineTest : public QObject {
public:
    LineTest(LineCalls& calls, const Clock& clock, int stepMs = 1000, QObject* parent = nullptr);
    ~LineTest() override;

    // Opens the adapter and writes the first state; an adapter that cannot be opened is
    // reported and nothing steps. A test already running is stopped first.
    void start(const LinesChoice& choice);
    // Closes the adapter at once.
    void stop();
    bool running() const { return port_ != nullptr; }

    // Told each step ("0x27: frame start, first half (D0 D1 D2 D5)"), a refusal or write
    // failure, and the end.
    std::function<void(const QString&)> onReport;

private:
    void step();
    void report(const QString& text);

    LineCalls& calls_;
    const Clock& clock_;
    LineMonitor monitor_; // the test's writes are nobody else's business
    std::unique_ptr<PortIo> port_;
    QTimer timer_;
    std::size_t next_ = 0;
};

// "D0 D1 D2 D5", or "none".
QString HighLines(std::uint8_t state);

} // namespace lumenvale
