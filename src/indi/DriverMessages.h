// The messages the capture code would show in a message box, sent to the driver's log instead;
// the last one is kept as the reason a frame was not taken.
#pragma once

#include "platform/Messages.h"

#include <functional>

namespace lumenvale {

class DriverMessages : public Messages {
public:
    explicit DriverMessages(std::function<void(const QString&)> log) : log_(std::move(log)) {}

    void MsgBox(const QString& text, const QString& = {}) override {
        last_ = text;
        log_(text);
    }
    // The brightness matching's beep means nothing at the telescope.
    void Beep() override {}

    const QString& last() const { return last_; }
    void clear() { last_.clear(); }

private:
    std::function<void(const QString&)> log_;
    QString last_;
};

} // namespace lumenvale
