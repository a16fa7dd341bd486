// Counts Return keystrokes and, optionally, passes them on to the real sender.
#pragma once

#include "platform/Keystrokes.h"

namespace lumenvale::test {

class FakeKeystrokes : public Keystrokes {
public:
    explicit FakeKeystrokes(bool forward = true) : forward_(forward) {}
    void sendEnter() override {
        ++enters;
        if (forward_) {
            real_.sendEnter();
        }
    }

    int enters = 0;

private:
    bool forward_;
    QtKeystrokes real_;
};

} // namespace lumenvale::test
