// The viewer window: the latest frame in one large image, and the program's menu bar.
#pragma once

#include "camera/FrameDisplay.h"
#include "settings/SettingsFile.h"
#include "ui/PictureFileCommands.h"
#include "ui/WindowBackground.h"

#include <QImage>
#include <QMainWindow>

#include <filesystem>

class QAction;
class QLabel;
class QMenu;

namespace lumenvale {

class FileDialogs;
class Messages;
struct ProgramState;

class Form2 : public QMainWindow, public FrameDisplay {
    Q_OBJECT

public:
    // Runs the load steps at once: `ControlShown` = 0, the settings read from `settingsFile`
    // into the program state (a problem with the file is shown as a message), and the
    // background (`background`) dropped when plain windows are on.
    Form2(ProgramState& program, Messages& messages, FileDialogs& dialogs,
          const QPixmap& background, const std::filesystem::path& settingsFile = SettingsFileName,
          QWidget* parent = nullptr);

    // FrameDisplay: `Image1` takes the picture and its size, its corner staying in place.
    void showPicture(const QImage& picture) override;
    QImage Picture() const override;

    // Replaces the background picture by none: the window shows its plain colour.
    void dropBackground();
    bool hasBackground() const { return background_.shown(); }

signals:
    // Settings: the Settings window is to be shown (created first if need be).
    void settingsRequested();
    // Camera > Control, the first time only: the Control window is to be shown.
    void controlRequested();
    // Camera > Live stack: the Live stack window is to be shown.
    void liveStackRequested();
    // Camera > Video: the Video window is to be shown.
    void videoRequested();
    // The window is closing (Exit or its close box): the other windows are to close too.
    void closing();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    void load(const std::filesystem::path& settingsFile);
    void showControl();
    void showVersion();

    ProgramState& program_;
    Messages& messages_;
    PictureFileCommands files_;
    // The client area below the menu bar, which carries the background picture.
    QWidget* client_;
    WindowBackground background_;
    QImage picture_;
    bool closed_ = false;

    QLabel* Image1 = nullptr;
    QMenu* File = nullptr;
    QAction* Open = nullptr;
    QAction* Save = nullptr;
    QAction* Exit = nullptr;
    QAction* SettingsCommand = nullptr; // objectName "Settings"
    QMenu* Camera = nullptr;
    QAction* Control = nullptr;
    QAction* LiveStack = nullptr;
    QAction* Video = nullptr;
    QMenu* About = nullptr;
    QAction* Version = nullptr;
};

} // namespace lumenvale
