// The Control window.
#include "ui/Form1.h"

#include "acquisition/Acquisition.h"

#include "camera/Services.h"
#include "platform/Messages.h"
#include "settings/SettingsFile.h"
#include "ui/ProgramState.h"
#include "ui/TwipsPlacement.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

namespace lumenvale {

namespace {

QLabel* label(QWidget* window, const char* name, const char* caption, int left, int top, int width,
              int height) {
    auto* control = place<QLabel>(window, name, left, top, width, height);
    control->setText(QString::fromLatin1(caption));
    // Transparent, so the background picture shows around the caption.
    control->setAutoFillBackground(false);
    return control;
}

QLineEdit* textBox(QWidget* window, const char* name, const char* text, int left, int top,
                   int width, int height) {
    auto* control = place<QLineEdit>(window, name, left, top, width, height);
    control->setText(QString::fromLatin1(text));
    return control;
}

QPushButton* button(QWidget* window, const char* name, const char* caption, int left, int top) {
    auto* control = place<QPushButton>(window, name, left, top, 975, 495);
    control->setText(QString::fromLatin1(caption));
    return control;
}

std::int16_t CheckValue(const QCheckBox* box) {
    switch (box->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    case Qt::Unchecked:
        break;
    }
    return 0;
}

// A float from the capture code as a whole number the bar takes, without overflowing int.
int BarNumber(float value, int low, int high) {
    const double clamped =
        std::clamp(static_cast<double>(value), static_cast<double>(low), static_cast<double>(high));
    return static_cast<int>(std::lround(clamped));
}

} // namespace

void MakeTopmost(QWidget& window) {
    // Changing the flags of a shown window hides it; it comes back where it was.
    const bool wasVisible = window.isVisible();
    const QPoint place = window.pos();
    window.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (wasVisible) {
        window.move(place);
        window.show();
    }
}

Form1::Form1(ProgramState& program, Services& services, FrameDisplay& viewer,
             const QPixmap& background, std::filesystem::path workDir, QWidget* parent)
    : QWidget(parent), program_(program), services_(services), workDir_(std::move(workDir)),
      background_(*this, background), lines_(services.port, program.capture, services.messages),
      timing_(program.capture, services, lines_),
      commands_(program.capture, program.settings, services, lines_, timing_, *this, viewer,
                workDir_) {
    build();
    load();
}

void Form1::build() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Control"));
    setFixedSize(px(3990), px(2955));

    Label1 = label(this, "Label1", "Exposure time", 120, 120, 1095, 375);
    Text2_ = textBox(this, "Text2", "2", 1800, 120, 495, 285);
    Label2 = label(this, "Label2", "Number of Images", 120, 720, 1335, 255);
    Text3_ = textBox(this, "Text3", "1", 1800, 720, 495, 285);
    ProgressBar1 = place<QProgressBar>(this, "ProgressBar1", 120, 1200, 2535, 255);
    ProgressBar1->setMinimum(0);
    ProgressBar1->setTextVisible(false);
    // Check boxes have no caption of their own: the label to the right is theirs.
    Check6_ = place<QCheckBox>(this, "Check6", 120, 1680, 255, 375);
    Label3 = label(this, "Label3", "De interlace", 360, 1800, 855, 255);
    Check4_ = place<QCheckBox>(this, "Check4", 1440, 1680, 255, 375);
    Label4 = label(this, "Label4", "Amp off", 1800, 1800, 855, 255);
    Check5_ = place<QCheckBox>(this, "Check5", 120, 2280, 255, 375);
    Label5 = label(this, "Label5", "Save", 360, 2400, 735, 255);
    Text4_ = textBox(this, "Text4", "image", 1080, 2280, 1575, 285);

    Line1 = place<QFrame>(this, "Line1", 2760, 120, 15, 2760 - 120);
    Line1->setFrameShape(QFrame::VLine);
    Line1->setFrameShadow(QFrame::Plain);
    Line1->setAttribute(Qt::WA_TransparentForMouseEvents);

    Command1 = button(this, "Command1", "Focus", 2880, 120);
    Command2 = button(this, "Command2", "2x1 Binned", 2880, 840);
    Command3 = button(this, "Command3", "Hi-res", 2880, 1560);
    Command4 = button(this, "Command4", "Stop", 2880, 2280);
    Command4->setEnabled(false);

    // The window's order is Command1, Command2, Command3, ProgressBar1, Check4, Text2, Label1,
    // Text3, Label2, Check5, Text4, Check6, Command4, then the labels; labels and the bar take
    // no focus, so the chain runs over the others.
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Check4_);
    setTabOrder(Check4_, Text2_);
    setTabOrder(Text2_, Text3_);
    setTabOrder(Text3_, Check5_);
    setTabOrder(Check5_, Text4_);
    setTabOrder(Text4_, Check6_);
    setTabOrder(Check6_, Command4);

    connect(Command1, &QPushButton::clicked, this, [this] { handle(&CaptureCommands::focus); });
    connect(Command2, &QPushButton::clicked, this, [this] { handle(&CaptureCommands::binned); });
    connect(Command3, &QPushButton::clicked, this, [this] { handle(&CaptureCommands::hires); });
    connect(Command4, &QPushButton::clicked, this, [this] { handle(&CaptureCommands::stop); });
}

void Form1::load() {
    MakeTopmost(*this);

    // After a failed save the file holds older settings than memory: re-reading it would undo
    // what the user chose and was told stays in use.
    if (!program_.SettingsUnsaved) {
        program_.settings =
            LoadSettingsTellingProblems(workDir_ / SettingsFileName, services_.messages);
    }
    if (program_.settings.PlainWindows == 2) {
        dropBackground();
    }

    program_.capture.CaptureBusy = 0;
    program_.capture.PortState = 0;
    lines_.openPortAccess();

    setProgressMax(10.0F);
    setProgressValue(0.0F);
}

void Form1::dropBackground() {
    background_.drop();
}

QString Form1::Text2() const {
    return Text2_->text();
}

QString Form1::Text3() const {
    return Text3_->text();
}

void Form1::setText3(const QString& text) {
    Text3_->setText(text);
}

QString Form1::Text4() const {
    return Text4_->text();
}

std::int16_t Form1::Check4() const {
    return CheckValue(Check4_);
}

std::int16_t Form1::Check5() const {
    return CheckValue(Check5_);
}

std::int16_t Form1::Check6() const {
    return CheckValue(Check6_);
}

bool Form1::Command4Enabled() const {
    return Command4->isEnabled();
}

void Form1::setCommand4Enabled(bool enabled) {
    Command4->setEnabled(enabled);
}

void Form1::setProgressMax(float max) {
    // An exposure of 0 or less would give the bar an empty range, which Qt shows as an
    // endlessly moving "busy" bar; a range of one keeps it still and empty.
    ProgressBar1->setMaximum(BarNumber(max, 1, INT_MAX));
}

void Form1::setProgressValue(float value) {
    const int bar = BarNumber(value, ProgressBar1->minimum(), ProgressBar1->maximum());
    if (bar == ProgressBar1->value()) {
        return;
    }
    // Painted by the event loop with the window's next update, not on the spot as the bar
    // would paint itself: the bar is reset between an exposure's end and its readout, where a
    // paint would lengthen the exposure.
    ProgressBar1->setUpdatesEnabled(false);
    ProgressBar1->setValue(bar);
    ProgressBar1->setUpdatesEnabled(true);
}

void Form1::handle(void (CaptureCommands::*command)()) {
    // A Focus click while another command runs returns at once and changes nothing.
    const bool focus = command == &CaptureCommands::focus && program_.capture.CaptureBusy != 1;
    ++handlersRunning_;
    if (focus) {
        focusRunning_ = true;
    }
    (commands_.*command)();
    if (focus) {
        focusRunning_ = false;
    }
    --handlersRunning_;
    if (handlersRunning_ == 0 && closePending_) {
        closePending_ = false;
        // Closed from the event loop, once this click has unwound completely.
        QTimer::singleShot(0, this, [this] { close(); });
    }
}

void Form1::cancelOpenDialog() {
    // The acquisition dialog (or a message the command shows) is modal and runs its own loop
    // on top of the command; rejecting it lets the command return.
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        dialog->reject();
    }
}

void Form1::closeEvent(QCloseEvent* event) {
    if (handlersRunning_ > 0) {
        // A command is waiting further down this very call stack, still using the port, the
        // timers and this window. It is told to end, and the window closes once it has.
        event->ignore();
        closePending_ = true;
        // A frame under way is finished: its acquisition dialog is confirmed by the readout
        // timer as usual. A focus dialog has no timer, and a message shown after a command
        // keeps the window from closing: those are closed now.
        const bool capturing = program_.capture.CaptureBusy == 1 && !focusRunning_;
        commands_.endSoon();
        if (!capturing) {
            cancelOpenDialog();
        }
        return;
    }
    // Never refused otherwise, and its steps run once however often the window is asked.
    event->accept();
    if (closed_) {
        return;
    }
    closed_ = true;
    services_.acquisition.closeSource();
    // The port last, after every window that might still act on the camera has gone; the
    // lines keep the readout state the last capture left.
    emit viewerCloseRequested();
    emit settingsCloseRequested();
    lines_.closePortAccess();
    program_.ControlShown = 0;
    emit closed();
}

} // namespace lumenvale
