// Message boxes and the system beep, behind one interface so tests can answer them.
#pragma once

#include <QString>

namespace lumenvale {

class Messages {
public:
    virtual ~Messages() = default;
    // A modal message box with one OK button; returns when it is closed.
    virtual void MsgBox(const QString& text, const QString& title = {}) = 0;
    virtual void Beep() = 0;
};

class QtMessages : public Messages {
public:
    void MsgBox(const QString& text, const QString& title = {}) override;
    void Beep() override;
};

} // namespace lumenvale
