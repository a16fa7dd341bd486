// Port access and the line-state sequences of the camera.
#pragma once

#include <cstdint>
#include <string>

namespace lumenvale {

class Messages;
class PortIo;
struct CaptureState;

class CameraLines {
public:
    CameraLines(PortIo& port, CaptureState& state, Messages& messages);

    // PortState = 0; initialise (a second try after a shutdown); "not initialised" when both
    // fail; then 0 is written in any case.
    void openPortAccess();
    // Shutdown, once more if the first fails. Writes nothing: the lines keep their state.
    void closePortAccess();

    // One-byte write of `state` to the camera port. The parallel port's result is ignored; a
    // write that an adapter reports failed (writeError) is remembered for the run.
    void write(std::uint8_t state);
    // PortState = state, then write it.
    void writePortState(std::int16_t state);

    // 0x27 then 0x37, back to back (frame start and Focus).
    void writePulse();
    // 0x14 then 0x34, back to back, after the settle wait.
    void writeSettled();
    // The exposure state through PortState: 0x30 when `ampOffValue` is 1, else 0x34.
    void writeExposureState(std::int16_t ampOffValue);

    // The first failed write since clearWriteFailure(), in words naming the adapter; empty
    // when every write went through.
    const std::string& writeFailure() const { return writeFailure_; }
    void clearWriteFailure() { writeFailure_.clear(); }

private:
    PortIo& port_;
    CaptureState& state_;
    Messages& messages_;
    std::string writeFailure_;
};

} // namespace lumenvale
