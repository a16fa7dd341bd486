// The readout timer's Return keystroke, which confirms the acquisition dialog on the desktop;
// with no dialog it confirms the stream's acquisition directly, right after the readout write.
#pragma once

#include "acquisition/StreamAcquisition.h"
#include "platform/Keystrokes.h"

namespace lumenvale {

class ReadoutConfirmation : public Keystrokes {
public:
    explicit ReadoutConfirmation(StreamAcquisition& acquisition) : acquisition_(acquisition) {}
    void sendEnter() override { acquisition_.confirm(); }

private:
    StreamAcquisition& acquisition_;
};

} // namespace lumenvale
