// Sending the Return keystroke that confirms the acquisition dialog.
#pragma once

namespace lumenvale {

class Keystrokes {
public:
    virtual ~Keystrokes() = default;
    // Posts one Return press and release to the active modal window (else the active window),
    // without waiting for it to be handled.
    virtual void sendEnter() = 0;
};

class QtKeystrokes : public Keystrokes {
public:
    void sendEnter() override;
};

} // namespace lumenvale
