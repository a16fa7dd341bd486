// Opening and closing port access, and the line-state writes of the frame start and Focus.
#include "camera/CameraLines.h"

#include "camera/CaptureState.h"
#include "camera/LineStates.h"
#include "lines/PortIo.h"
#include "platform/Messages.h"

#include <QString>

namespace lumenvale {

CameraLines::CameraLines(PortIo& port, CaptureState& state, Messages& messages)
    : port_(port), state_(state), messages_(messages) {}

void CameraLines::openPortAccess() {
    state_.PortState = LineIdle;
    if (port_.InitializeWinIo() == 0) {
        // A driver left half-open by an earlier run is cleared by a shutdown before the retry.
        port_.ShutdownWinIo();
        if (port_.InitializeWinIo() == 0) {
            QString text = QStringLiteral("not initialised");
            const std::string reason = port_.lastError();
            if (!reason.empty()) {
                text += QLatin1Char('\n') + QString::fromStdString(reason);
            }
            messages_.MsgBox(text);
        }
    }
    // Written even when the port did not open: the line monitor (and so the simulated
    // camera) sees the idle state either way.
    writePortState(state_.PortState);
}

void CameraLines::closePortAccess() {
    if (port_.ShutdownWinIo() == 0) {
        port_.ShutdownWinIo();
    }
}

void CameraLines::write(std::uint8_t state) {
    if (port_.SetPortVal(CameraPort, state, 1) == 0 && writeFailure_.empty()) {
        writeFailure_ = port_.writeError();
    }
}

void CameraLines::writePortState(std::int16_t state) {
    state_.PortState = state;
    write(static_cast<std::uint8_t>(state_.PortState));
}

void CameraLines::writePulse() {
    write(LinePulseStart);
    write(LineReadout);
}

void CameraLines::writeSettled() {
    write(LineSettled);
    write(LineExposeAmpOn);
}

void CameraLines::writeExposureState(std::int16_t ampOffValue) {
    writePortState(ampOffValue == 1 ? LineExposeAmpOff : LineExposeAmpOn);
}

} // namespace lumenvale
