// The Control window as the capture commands see it: the boxes they read, the count box and
// the Stop button they write, the progress bar, and the window that owns timers and dialogs.
#pragma once

#include "camera/ProgressDisplay.h"

#include <QString>

#include <cstdint>

class QWidget;

namespace lumenvale {

class ControlPanel : public ProgressDisplay {
public:
    // "Exposure time", in seconds.
    virtual QString Text2() const = 0;
    // "Number of Images"; shows the frames still to take during a run.
    virtual QString Text3() const = 0;
    virtual void setText3(const QString& text) = 0;
    // Base name of auto-saved frames.
    virtual QString Text4() const = 0;

    // Check box values as the window definition has them: 0 clear, 1 ticked, 2 greyed.
    virtual std::int16_t Check4() const = 0; // "Amp off"
    virtual std::int16_t Check5() const = 0; // "Save"
    virtual std::int16_t Check6() const = 0; // "De interlace": brightness matching

    // Stop (Command4).
    virtual bool Command4Enabled() const = 0;
    virtual void setCommand4Enabled(bool enabled) = 0;

    // The window that owns the acquisition timer and the acquisition dialog.
    virtual QWidget* hwnd() = 0;
};

} // namespace lumenvale
