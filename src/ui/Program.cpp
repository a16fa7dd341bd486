// The application: the program-wide state, the shared pictures and the windows.
#include "ui/Program.h"

#include "platform/Services.h"
#include "settings/SettingsFile.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/ProgramPictures.h"

#include <QApplication>

#include <utility>

namespace lumenvale {

Program::Program(Services& services, FileDialogs& dialogs, std::filesystem::path workDir)
    : services_(services), dialogs_(dialogs), workDir_(std::move(workDir)),
      background_(BackgroundPicture()) {
    QApplication::setWindowIcon(ProgramIcon());
    viewer_ = std::make_unique<Form2>(state_, services_.messages, dialogs_, background_,
                                      (workDir_ / SettingsFileName).lexically_normal());
    QObject::connect(viewer_.get(), &Form2::controlRequested, viewer_.get(),
                     [this] { ShowControl(); });
    // Closing the viewer closes the Control window; a command still running there ends
    // first, and the program with the Control window once it has.
    QObject::connect(viewer_.get(), &Form2::closing, viewer_.get(), [this] {
        if (control_) {
            control_->close();
        }
    });
}

Program::~Program() = default;

void Program::Show() {
    viewer_->show();
}

void Program::ShowControl() {
    if (!control_) {
        control_ = std::make_unique<Form1>(state_, services_, *viewer_, background_, workDir_);
        QObject::connect(control_.get(), &Form1::viewerCloseRequested, viewer_.get(),
                         &QWidget::close);
    }
    control_->show();
}

} // namespace lumenvale
