// The line test.
#include "acquisition/dialog/LineTest.h"

#include "lines/CameraStates.h"
#include "lines/LinePorts.h"

namespace lumenvale {

LineTest::LineTest(LineCalls& calls, const Clock& clock, int stepMs, QObject* parent)
    : QObject(parent), calls_(calls), clock_(clock) {
    timer_.setInterval(stepMs);
    connect(&timer_, &QTimer::timeout, this, &LineTest::step);
}

LineTest::~LineTest() {
    stop();
}

QString HighLines(std::uint8_t state) {
    QStringList lines;
    for (int bit = 0; bit < 8; ++bit) {
        if ((state >> bit) & 1U) {
            lines << QStringLiteral("D%1").arg(bit);
        }
    }
    return lines.isEmpty() ? QStringLiteral("none") : lines.join(QLatin1Char(' '));
}

void LineTest::start(const LinesChoice& choice) {
    stop();
    port_ = MakeLinePort(choice, monitor_, clock_, calls_);
    if (port_->InitializeWinIo() == 0) {
        const QString why = QString::fromStdString(port_->lastError());
        port_.reset();
        report(QStringLiteral("The line test cannot start: %1").arg(why));
        return;
    }
    next_ = 0;
    step();
    timer_.start();
}

void LineTest::stop() {
    timer_.stop();
    if (port_) {
        port_->ShutdownWinIo();
        port_.reset();
    }
}

void LineTest::step() {
    if (next_ >= CameraStateNames.size()) {
        stop();
        report(QStringLiteral("Line test done: the lines stay at the last state."));
        return;
    }
    const NamedLineState& s = CameraStateNames[next_++];
    if (port_->SetPortVal(CameraPort, s.state, 1) == 0) {
        const QString why = QString::fromStdString(port_->writeError());
        stop();
        report(QStringLiteral("The line test stopped: %1.").arg(why));
        return;
    }
    report(QStringLiteral("0x%1: %2 (%3)")
               .arg(s.state, 2, 16, QLatin1Char('0'))
               .arg(QString::fromUtf8(s.name), HighLines(s.state)));
}

void LineTest::report(const QString& text) {
    if (onReport) {
        onReport(text);
    }
}

} // namespace lumenvale
