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
    void Show();

    ProgramState& state() { return state_; }
    Form2& viewer() { return *viewer_; }
    // The Control window once Camera > Control has created it, else null.
    Form1* control() { return control_.get(); }

private:
    // Camera > Control: the Control window, created the first time.
    void ShowControl();

    Services& services_;
    FileDialogs& dialogs_;
    std::filesystem::path workDir_;
    ProgramState state_;
    QPixmap background_;
    std::unique_ptr<Form2> viewer_;
    // After the viewer, so that it goes first: it shows its frames in the viewer.
    std::unique_ptr<Form1> control_;
};

} // namespace lumenvale
