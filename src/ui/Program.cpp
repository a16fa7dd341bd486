// The application: the program-wide state, the shared pictures and the windows.
#include "ui/Program.h"

#include "platform/Services.h"
#include "settings/SettingsFile.h"
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
}

Program::~Program() = default;

void Program::Show() {
    viewer_->show();
}

} // namespace lumenvale
