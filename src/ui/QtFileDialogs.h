// The viewer's file dialog on Qt.
#pragma once

#include "ui/FileDialogs.h"

class QFileDialog;

namespace lumenvale {

class QtFileDialogs : public FileDialogs {
public:
    QString getOpenFileName(QWidget* parent, const QString& filter) override;
    QString getSaveFileName(QWidget* parent, const QString& filter) override;

    // How each dialog is set up before it is shown; separate so that tests can check it.
    static void configureForOpen(QFileDialog& dialog, const QString& filter);
    static void configureForSave(QFileDialog& dialog, const QString& filter);
};

} // namespace lumenvale
