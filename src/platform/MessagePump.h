// Letting window events run while a capture waits on the user-interface thread.
#pragma once

namespace lumenvale {

class MessagePump {
public:
    virtual ~MessagePump() = default;
    // Handles the events that are pending, without blocking.
    virtual void DoEvents() = 0;
    // Handles events, blocking until at least one arrives or `timeoutMs` has passed
    // (0 or less: does not block). Used by the waits so that they do not spin.
    virtual void waitForEvents(int timeoutMs) = 0;
};

class QtMessagePump : public MessagePump {
public:
    void DoEvents() override;
    void waitForEvents(int timeoutMs) override;
};

} // namespace lumenvale
