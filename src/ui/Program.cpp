// The application: the program-wide state, the shared pictures and the windows.
#include "ui/Program.h"

#include "camera/Services.h"
#include "settings/SettingsFile.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/Form3.h"
#include "ui/LiveStackWindow.h"
#include "ui/ProgramPictures.h"
#include "ui/VideoWindow.h"

#include <QApplication>
#include <QFont>

#include <utility>

namespace lumenvale {

Program::Program(Services& services, FileDialogs& dialogs, std::filesystem::path workDir)
    : services_(services), dialogs_(dialogs), workDir_(std::move(workDir)),
      background_(BackgroundPicture()) {
    QApplication::setWindowIcon(ProgramIcon());
    // The windows were laid out for a narrow 8-point system font, 11 pixels high; the usual
    // desktop font of 9 or 10 points, at its full width, cuts their captions off.
    QFont font = QApplication::font();
    font.setPixelSize(11);
    font.setStretch(80);
    QApplication::setFont(font);
    viewer_ = std::make_unique<Form2>(state_, services_.messages, dialogs_, background_,
                                      (workDir_ / SettingsFileName).lexically_normal());
    QObject::connect(viewer_.get(), &Form2::controlRequested, viewer_.get(),
                     [this] { showControl(); });
    QObject::connect(viewer_.get(), &Form2::liveStackRequested, viewer_.get(),
                     [this] { showLiveStack(); });
    QObject::connect(viewer_.get(), &Form2::videoRequested, viewer_.get(), [this] { showVideo(); });
    QObject::connect(viewer_.get(), &Form2::settingsRequested, viewer_.get(),
                     [this] { showSettings(); });
    // Closing the viewer closes the Control window; a command still running there ends
    // first, and the program with the Control window once it has.
    QObject::connect(viewer_.get(), &Form2::closing, viewer_.get(), [this] {
        ending_ = true;
        if (control_) {
            control_->close();
        }
        closeSettings();
        if (liveStack_) {
            liveStack_->close();
        }
        if (video_) {
            video_->close();
        }
    });
}

Program::~Program() = default;

void Program::show() {
    viewer_->show();
}

void Program::showControl() {
    createControl().show();
}

Form1& Program::createControl() {
    if (!control_) {
        control_ = std::make_unique<Form1>(state_, services_, *viewer_, background_, workDir_);
        control_->setRunWatcher(liveStack_.get());
        QObject::connect(control_.get(), &Form1::viewerCloseRequested, viewer_.get(),
                         &QWidget::close);
        QObject::connect(control_.get(), &Form1::settingsCloseRequested, viewer_.get(),
                         [this] { closeSettings(); });
    }
    return *control_;
}

void Program::showLiveStack() {
    if (ending_) {
        return;
    }
    if (!liveStack_) {
        liveStack_ = std::make_unique<LiveStackWindow>(workDir_, [this] {
            return std::pair{state_.settings.SaveDir, control_ ? control_->Text4() : QString()};
        });
        if (control_) {
            control_->setRunWatcher(liveStack_.get());
        }
    }
    liveStack_->show();
    liveStack_->raise();
    liveStack_->activateWindow();
}

void Program::showVideo() {
    if (ending_) {
        return;
    }
    if (!video_) {
        video_ = std::make_unique<VideoWindow>(services_.acquisition, state_.capture, [this] {
            return std::pair{state_.settings.SaveDir, control_ ? control_->Text4() : QString()};
        });
    }
    video_->show();
    video_->raise();
    video_->activateWindow();
}

void Program::showSettings() {
    if (settingsOpen_) {
        settings_->raise();
        settings_->activateWindow();
        return;
    }
    settings_.reset();
    settings_ =
        std::make_unique<Form3>(state_.settings, services_.messages, services_.acquisition,
                                background_, (workDir_ / SettingsFileName).lexically_normal());
    settingsOpen_ = true;
    QObject::connect(settings_.get(), &Form3::plainWindowsClosed, viewer_.get(),
                     [this] { dropBackgrounds(); });
    QObject::connect(settings_.get(), &Form3::settingsSaved, viewer_.get(),
                     [this](bool written) { state_.SettingsUnsaved = !written; });
    QObject::connect(settings_.get(), &Form3::closed, viewer_.get(),
                     [this] { settingsOpen_ = false; });
    settings_->show();
}

void Program::closeSettings() {
    if (settingsOpen_) {
        settings_->close();
    }
}

void Program::dropBackgrounds() {
    // Setting the Control window's picture creates that window if need be, hidden, with its
    // load steps (port access opened), and Camera > Control shows it later. Not while the
    // program ends, though: such a window would outlive the viewer and keep the process going.
    if (!control_ && !ending_) {
        createControl();
    }
    if (control_) {
        control_->dropBackground();
    }
    viewer_->dropBackground();
}

} // namespace lumenvale
