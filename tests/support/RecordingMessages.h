// Message boxes answered at once and remembered, and beeps counted.
#pragma once

#include "platform/Messages.h"

#include <QStringList>

namespace lumenvale::test {

class RecordingMessages : public Messages {
public:
    void MsgBox(const QString& text, const QString& /*title*/ = {}) override { texts.append(text); }
    void Beep() override { ++beeps; }

    QStringList texts;
    int beeps = 0;
};

} // namespace lumenvale::test
