// The Control window: exposure time, number of images, the capture buttons, the check boxes,
// the base name of saved frames and the exposure progress bar; kept on top.
#pragma once

#include "camera/CameraLines.h"
#include "camera/CaptureCommands.h"
#include "camera/ControlPanel.h"
#include "camera/ExposureTiming.h"
#include "ui/WindowBackground.h"

#include <QPixmap>
#include <QWidget>

#include <filesystem>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace lumenvale {

class FrameDisplay;
struct ProgramState;
struct Services;

// Keeps `window` above every window that is not itself kept on top, without moving it.
void MakeTopmost(QWidget& window);

class Form1 : public QWidget, public ControlPanel {
    Q_OBJECT

public:
    // Runs the load steps at once: on top, settings read from `workDir`/"config.dat" (unless
    // the last save failed: memory holds the settings in use then),
    // background (`background` unless plain windows are on), port access opened with 0
    // written, progress bar reset. `viewer` receives the frames; `workDir` holds the working
    // frame files (the program passes ".").
    Form1(ProgramState& program, Services& services, FrameDisplay& viewer,
          const QPixmap& background, std::filesystem::path workDir = ".",
          QWidget* parent = nullptr);

    // Replaces the background picture by none: the window shows its plain colour.
    void dropBackground();
    bool hasBackground() const { return background_.shown(); }
    // The Live stack window, told of every run; null for none.
    void setRunWatcher(RunWatcher* watcher) { commands_.setRunWatcher(watcher); }

    // ControlPanel
    QString Text2() const override;
    QString Text3() const override;
    void setText3(const QString& text) override;
    QString Text4() const override;
    std::int16_t Check4() const override;
    std::int16_t Check5() const override;
    std::int16_t Check6() const override;
    bool Command4Enabled() const override;
    void setCommand4Enabled(bool enabled) override;
    QWidget* hwnd() override { return this; }
    void setProgressMax(float max) override;
    void setProgressValue(float value) override;

signals:
    // The first closing steps: the viewer and the Settings window are to close now (a window
    // already closing or not open ignores it). Port access is closed after them.
    void viewerCloseRequested();
    void settingsCloseRequested();
    // The closing steps have run; port access is closed and the window is gone for good.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    void load();
    // Runs one of the four commands; a close asked for meanwhile happens once it has returned.
    void handle(void (CaptureCommands::*command)());
    void cancelOpenDialog();

    ProgramState& program_;
    Services& services_;
    std::filesystem::path workDir_;
    WindowBackground background_;
    CameraLines lines_;
    ExposureTiming timing_;
    CaptureCommands commands_;

    int handlersRunning_ = 0;
    bool focusRunning_ = false;
    bool closePending_ = false;
    bool closed_ = false;

    QLabel* Label1 = nullptr;
    QLineEdit* Text2_ = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Text3_ = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QCheckBox* Check6_ = nullptr;
    QLabel* Label3 = nullptr;
    QCheckBox* Check4_ = nullptr;
    QLabel* Label4 = nullptr;
    QCheckBox* Check5_ = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* Text4_ = nullptr;
    QFrame* Line1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
};

} // namespace lumenvale
