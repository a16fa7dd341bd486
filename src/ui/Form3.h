// The Settings window: de-interlace order, source chooser, save directory, plain windows.
#pragma once

#include "settings/Settings.h"
#include "settings/SettingsFile.h"
#include "ui/SettingsEditor.h"
#include "ui/WindowBackground.h"

#include <QPixmap>
#include <QWidget>

#include <filesystem>

class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;

namespace lumenvale {

class Acquisition;
class DirectoryList;
class Messages;

class Form3 : public QWidget {
    Q_OBJECT

public:
    // Runs the load steps at once. `background` is the shared window picture; `settingsFile`
    // is where the closing steps write the settings.
    Form3(Settings& settings, Messages& messages, Acquisition& acquisition,
          const QPixmap& background, std::filesystem::path settingsFile = SettingsFileName,
          QWidget* parent = nullptr);

    // Replaces the background picture by none: the window shows its plain colour.
    void dropBackground();
    bool hasBackground() const { return background_.shown(); }

signals:
    // The closing steps have tried to write the settings file; `written` tells how it went.
    void settingsSaved(bool written);
    // The last closing step, when plain windows are on: the Control window (only if it
    // exists) and the viewer are to drop their background pictures.
    void plainWindowsClosed();
    // The closing steps have run; the window is gone for good.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    void load();

    SettingsEditor editor_;
    Acquisition& acquisition_;
    WindowBackground background_;
    bool closed_ = false;

    QLabel* Label2 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QFrame* Line1 = nullptr;
    QPushButton* Command5 = nullptr;
    QFrame* Line2 = nullptr;
    QLabel* Label1 = nullptr;
    DirectoryList* Dir1 = nullptr;
    QFrame* Line3 = nullptr;
    QCheckBox* Check1 = nullptr;
    QFrame* Line4 = nullptr;
    QPushButton* Command1 = nullptr;
};

} // namespace lumenvale
