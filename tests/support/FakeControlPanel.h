// The Control window's boxes and buttons as plain fields, with a bare window for the timers
// and dialogs.
#pragma once

#include "camera/ControlPanel.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>

namespace lumenvale::test {

class FakeControlPanel : public ControlPanel {
public:
    QString Text2() const override { return text2; }
    QString Text3() const override { return text3; }
    void setText3(const QString& text) override {
        text3 = text;
        text3History.append(text);
    }
    QString Text4() const override { return text4; }
    std::int16_t Check4() const override { return check4; }
    std::int16_t Check5() const override { return check5; }
    std::int16_t Check6() const override { return check6; }
    bool Command4Enabled() const override { return stopEnabled; }
    void setCommand4Enabled(bool enabled) override { stopEnabled = enabled; }
    QWidget* hwnd() override { return &window; }
    void setProgressMax(float max) override {
        progressMax = max;
        ++progressCalls;
    }
    void setProgressValue(float value) override {
        progressValue = value;
        ++progressCalls;
    }

    // What the window shows, as the Control window starts: the tests change it.
    QString text2 = QStringLiteral("2");
    QString text3 = QStringLiteral("1");
    QString text4 = QStringLiteral("image");
    std::int16_t check4 = 0;
    std::int16_t check5 = 0;
    std::int16_t check6 = 0;
    bool stopEnabled = false;
    float progressMax = 10.0F;
    float progressValue = 0.0F;

    // What happened.
    QStringList text3History;
    int progressCalls = 0;
    QWidget window;
};

} // namespace lumenvale::test
