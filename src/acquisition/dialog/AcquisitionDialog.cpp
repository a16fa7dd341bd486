// The acquisition dialog.
#include "acquisition/dialog/AcquisitionDialog.h"

#include "acquisition/FrameBmp.h"
#include "acquisition/dialog/FocusAidPanel.h"
#include "acquisition/dialog/StarMarks.h"
#include "analysis/DisplayStretch.h"
#include "platform/Errors.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumenvale {

AcquisitionDialog::AcquisitionDialog(QWidget* parent, FrameSource& source,
                                     std::filesystem::path target, int failureLingerMs,
                                     bool stretch)
    : AcquisitionDialog(parent, failureLingerMs) {
    source_ = &source;
    target_ = std::move(target);
    stretchBox_->setChecked(stretch);
}

AcquisitionDialog::AcquisitionDialog(QWidget* parent, int failureLingerMs)
    : QDialog(parent), failureLingerMs_(failureLingerMs) {
    setObjectName(QStringLiteral("AcquisitionDialog"));
    setModal(true);

    preview_ = new QLabel(this);
    preview_->setObjectName(QStringLiteral("Preview"));
    preview_->setFixedSize(AcquiredFrame::Width, AcquiredFrame::Height);
    preview_->setAutoFillBackground(true);
    QPalette dark = preview_->palette();
    dark.setColor(QPalette::Window, Qt::black);
    preview_->setPalette(dark);
    preview_->installEventFilter(this);
    focusAid_ = new FocusAidPanel(this);

    // Neither takes the keyboard from the default button.
    stretchBox_ = new QCheckBox(QStringLiteral("Stretch"), this);
    stretchBox_->setObjectName(QStringLiteral("Stretch"));
    stretchBox_->setFocusPolicy(Qt::NoFocus);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("Status"));
    status_->setWordWrap(true);

    controlsButton_ = new QPushButton(QStringLiteral("Camera controls..."), this);
    controlsButton_->setObjectName(QStringLiteral("CameraControlsButton"));
    controlsButton_->setFocusPolicy(Qt::NoFocus);
    controlsButton_->setAutoDefault(false);
    controlsButton_->hide();

    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("Notice"));
    notice_->setWordWrap(true);
    QPalette noticeColour = notice_->palette();
    noticeColour.setColor(QPalette::WindowText, QColor(0xb0, 0x60, 0x00));
    notice_->setPalette(noticeColour);
    notice_->hide();

    acquireButton_ = new QPushButton(QStringLiteral("Acquire"), this);
    acquireButton_->setObjectName(QStringLiteral("AcquireButton"));
    acquireButton_->setDefault(true);
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton_->setObjectName(QStringLiteral("CancelButton"));
    // Return typed while Cancel has the focus must still acquire, never cancel.
    cancelButton_->setAutoDefault(false);

    auto* pictures = new QHBoxLayout;
    pictures->addWidget(preview_);
    pictures->addWidget(focusAid_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(stretchBox_);
    buttons->addWidget(controlsButton_);
    buttons->addWidget(status_, 1);
    buttons->addWidget(acquireButton_);
    buttons->addWidget(cancelButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(pictures);
    layout->addWidget(notice_);
    layout->addLayout(buttons);
    acquireButton_->setFocus();

    connect(acquireButton_, &QPushButton::clicked, this, &AcquisitionDialog::acquire);
    connect(cancelButton_, &QPushButton::clicked, this, &AcquisitionDialog::reject);
    connect(controlsButton_, &QPushButton::clicked, this, &AcquisitionDialog::showCameraControls);
    connect(&pollTimer_, &QTimer::timeout, this, &AcquisitionDialog::pollSource);
    startTimer_.setSingleShot(true);
    startTimer_.setTimerType(Qt::PreciseTimer);
    connect(&startTimer_, &QTimer::timeout, this, &AcquisitionDialog::startSource);
    lingerTimer_.setSingleShot(true);
    connect(&lingerTimer_, &QTimer::timeout, this, [this] { finish(result_); });
}

AcquisitionDialog::~AcquisitionDialog() {
    if (source_ != nullptr) {
        source_->stop();
    }
}

std::int32_t AcquisitionDialog::run(FrameSource& source, std::filesystem::path target,
                                    bool stretch) {
    source_ = &source;
    target_ = std::move(target);
    stretchBox_->setChecked(stretch);
    return run();
}

std::int32_t AcquisitionDialog::run() {
    setWindowTitle(source_->name());
    started_ = false;
    confirmed_ = false;
    failed_ = false;
    finished_ = false;
    result_ = AcquireCancelled;
    pacer_ = PreviewPacer();
    status_->setText(QStringLiteral("Starting the camera..."));
    status_->setPalette(QPalette());
    acquireButton_->setEnabled(true);
    cancelButton_->setText(QStringLiteral("Cancel"));
    controlsButton_->setEnabled(false);
    noticeThisRun_ = false;
    acquireButton_->setFocus();
    sinceOpened_.start();
    // Not even the dialog's first painting comes before a readout timer due at once.
    setUpdatesEnabled(false);
    // Opening a device can take a while; it must not delay the event loop, in which the
    // caller's readout timer ends the exposure. A timer rather than a posted call: a readout
    // timer armed before the dialog, due as soon, ticks first.
    startTimer_.start(1);
    exec();
    if (!finished_) {
        finish(result_);
    }
    source_ = nullptr; // it belongs to this run only

    return result_;
}

void AcquisitionDialog::startSource() {
    setUpdatesEnabled(true);
    if (started_ || finished_) {
        return;
    }
    started_ = true;
    const auto failure = source_->start();
    showNotice();
    if (failure) {
        fail(*failure);
        return;
    }
    pollTimer_.start(source_->pollIntervalMs());
    if (confirmed_) {
        // The confirmation came before the device was ready.
        source_->confirm();
        pollSource();
    } else {
        status_->setText(QStringLiteral("Live picture. Acquire takes the frame."));
    }
}

void AcquisitionDialog::acquire() {
    if (confirmed_ || failed_ || finished_) {
        return;
    }
    confirmed_ = true;
    acquireButton_->setEnabled(false);
    controlsButton_->setEnabled(false);
    status_->setText(QStringLiteral("Reading out the frame..."));
    if (!started_) {
        startSource();
        return;
    }
    source_->confirm();
    pollSource();
}

void AcquisitionDialog::pollSource() {
    if (failed_ || finished_) {
        return;
    }
    handle(source_->poll());
    controlsButton_->setEnabled(controlsAllowed());
}

void AcquisitionDialog::handle(SourcePoll&& poll) {
    switch (poll.state) {
    case SourcePoll::State::Failed:
        fail(poll.failure);
        return;
    case SourcePoll::State::Captured:
        try {
            WriteFrameBmp(target_, *poll.frame);
        } catch (const FileError& e) {
            fail({AcquireWriteFailed, QStringLiteral("The frame could not be written: %1")
                                          .arg(QString::fromLocal8Bit(e.what()))});
            return;
        }
        finish(AcquireOk);
        return;
    case SourcePoll::State::Waiting:
        if (poll.preview && !confirmed_ && sinceOpened_.elapsed() >= PreviewHoldMs) {
            showPreview(*poll.preview);
        }
        return;
    }
}

void AcquisitionDialog::fail(const SourceFailure& failure) {
    failed_ = true;
    result_ = failure.code;
    pollTimer_.stop();
    source_->stop();
    acquireButton_->setEnabled(false);
    controlsButton_->setEnabled(false);
    cancelButton_->setText(QStringLiteral("Close"));
    status_->setText(failure.reason);
    QPalette warning = status_->palette();
    warning.setColor(QPalette::WindowText, Qt::red);
    status_->setPalette(warning);
    if (failureLingerMs_ <= 0) {
        finish(result_);
    } else {
        lingerTimer_.start(failureLingerMs_);
    }
}

void AcquisitionDialog::finish(std::int32_t result) {
    if (finished_) {
        return;
    }
    finished_ = true;
    result_ = result;
    setUpdatesEnabled(true);
    startTimer_.stop();
    pollTimer_.stop();
    lingerTimer_.stop();
    source_->stop();
    // A camera that failed while its controls were open closes them with the dialog.
    for (auto* panel : findChildren<QDialog*>(Qt::FindDirectChildrenOnly)) {
        panel->reject();
    }
    done(result == AcquireOk ? Accepted : Rejected);
}

void AcquisitionDialog::reject() {
    // Cancel, Escape and the close box; after a failure they only close sooner.
    finish(failed_ ? result_ : AcquireCancelled);
}

bool AcquisitionDialog::stretch() const {
    return stretchBox_->isChecked();
}

void AcquisitionDialog::offerCameraControls(std::function<void(QWidget*)> show,
                                            std::function<bool()> allowed) {
    showControls_ = std::move(show);
    controlsAllowed_ = std::move(allowed);
    controlsButton_->setVisible(bool(showControls_));
}

bool AcquisitionDialog::controlsAllowed() const {
    return showControls_ && started_ && !confirmed_ && !failed_ && !finished_ &&
           sinceOpened_.elapsed() >= PreviewHoldMs && (!controlsAllowed_ || controlsAllowed_());
}

void AcquisitionDialog::showCameraControls() {
    if (!controlsAllowed()) {
        return;
    }
    // The live picture goes on changing behind the panel as the controls are moved.
    showControls_(this);
    showNotice();
    acquireButton_->setFocus();
}

void AcquisitionDialog::showNotice() {
    const QString text = takeNotice_ ? takeNotice_() : QString();
    if (!text.isEmpty()) {
        notice_->setText(noticeThisRun_ ? notice_->text() + QLatin1Char('\n') + text : text);
        noticeThisRun_ = true;
    }
    notice_->setVisible(noticeThisRun_);
}

bool AcquisitionDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == preview_ && event->type() == QEvent::MouseButtonPress) {
        const auto* click = static_cast<QMouseEvent*>(event);
        if (click->button() == Qt::LeftButton) {
            focus_.pick(click->position());
        } else {
            focus_.release();
        }
        focusAid_->clearTrend();
        trendStar_ = focus_.starNumber();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void AcquisitionDialog::showPreview(const AcquiredFrame& frame) {
    const auto now = [this] { return sinceOpened_.nsecsElapsed() / 1000; };
    const std::int64_t start = now();
    if (!pacer_.due(start)) {
        return; // the last picture took long: let the camera and the dialog catch up
    }
    QImage picture = frame.toImage();
    const auto star = focus_.next(frame);
    if (focus_.starNumber() != trendStar_) {
        focusAid_->clearTrend(); // readings of another star
        trendStar_ = focus_.starNumber();
    }
    focusAid_->showMeasurement(picture, star);
    if (stretchBox_->isChecked()) {
        picture = DisplayStretch::apply(std::move(picture), DisplayStretch::automatic(frame));
    }
    if (star) {
        StarMarks::draw(picture, *star, focus_.measure().others());
    }
    preview_->setPixmap(QPixmap::fromImage(picture));
    pacer_.shown(start, now());
}

} // namespace lumenvale
