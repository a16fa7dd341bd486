// The file dialog of the viewer's Open and Save As commands, behind an interface so tests can
// answer it.
#pragma once

#include <QString>

class QWidget;

namespace lumenvale {

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // Each shows a modal dialog offering `filter` (e.g. "pictures (*.bmp)") and returns the
    // name confirmed, exactly as chosen, or an empty text when the dialog was cancelled.
    virtual QString getOpenFileName(QWidget* parent, const QString& filter) = 0;
    virtual QString getSaveFileName(QWidget* parent, const QString& filter) = 0;
};

} // namespace lumenvale
