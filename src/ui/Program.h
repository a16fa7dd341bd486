// The application: the program-wide state, the shared pictures and the windows.
#pragma once

#include "ui/ProgramState.h"

#include <QPixmap>

#include <filesystem>
#include <memory>

namespace lumenvale {

class FileDialogs;
class Form1;
class Form2;
class Form3;
class LiveStackWindow;
class VideoWindow;
struct Services;

class Program {
public:
    // Creates the viewer window, which reads the settings. `workDir` holds "config.dat" and the
    // working frame files; the program passes ".", the current directory at each use.
    Program(Services& services, FileDialogs& dialogs, std::filesystem::path workDir = ".");
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Shows the viewer: neither topmost nor modal. Closing it ends the program.
    void show();

    ProgramState& state() { return state_; }
    Form2& viewer() { return *viewer_; }
    // The Control window once Camera > Control has created it, else null.
    Form1* control() { return control_.get(); }
    // The Live stack window once Camera > Live stack has created it, else null.
    LiveStackWindow* liveStack() { return liveStack_.get(); }
    // The Video window once Camera > Video has created it, else null.
    VideoWindow* video() { return video_.get(); }
    // The Settings window while it is open, else null.
    Form3* settings() { return settingsOpen_ ? settings_.get() : nullptr; }

private:
    // Camera > Control: the Control window, created the first time.
    void showControl();
    // The Control window, created hidden if it does not exist yet (its load steps run).
    Form1& createControl();

    // Camera > Live stack: the window, created the first time, shown and brought forward.
    void showLiveStack();
    // Camera > Video: the window, created the first time, shown and brought forward.
    void showVideo();

    // Settings: a new Settings window after every close (its load steps run again), else the
    // open one brought forward.
    void showSettings();
    void closeSettings();
    // The Settings window closed with plain windows on.
    void dropBackgrounds();

    Services& services_;
    FileDialogs& dialogs_;
    std::filesystem::path workDir_;
    ProgramState state_;
    QPixmap background_;
    std::unique_ptr<Form2> viewer_;
    // Before the Control window, so that it outlives the capture commands that tell it of runs.
    std::unique_ptr<LiveStackWindow> liveStack_;
    std::unique_ptr<VideoWindow> video_;
    // After the viewer, so that it goes first: it shows its frames in the viewer.
    std::unique_ptr<Form1> control_;
    // The last Settings window; a closed one stays until the next Settings command replaces
    // it, so that it is never destroyed while its own closing is still on the stack.
    std::unique_ptr<Form3> settings_;
    bool settingsOpen_ = false;
    // The viewer is closing, so the program ends: no window may be created any more.
    bool ending_ = false;
};

} // namespace lumenvale
