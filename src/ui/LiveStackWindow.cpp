// The Live stack window's controls and their wiring to the worker.
#include "ui/LiveStackWindow.h"

#include <QCheckBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace lumenvale {

namespace {

template <typename Widget> Widget* named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

LiveStackWindow::LiveStackWindow(const std::filesystem::path& workDir, SaveTarget saveTarget,
                                 QWidget* parent)
    : QWidget(parent, Qt::Window), saveTarget_(std::move(saveTarget)), worker_(workDir) {
    setObjectName(QStringLiteral("LiveStack"));
    setWindowTitle(QStringLiteral("Live stack"));
    StackImage = named(new QLabel(this), "StackImage");
    StackImage->setFixedSize(640, 480);
    StackImage->setAlignment(Qt::AlignCenter);
    StackImage->setText(QStringLiteral("The frames of the next run are stacked here."));
    StackFigures = named(new QLabel(this), "StackFigures");
    StackFigures->setWordWrap(true);
    StackLog = named(new QPlainTextEdit(this), "StackLog");
    StackLog->setReadOnly(true);
    StackLog->setMaximumBlockCount(500);
    StackLog->setFixedHeight(80);
    Continue = named(new QCheckBox(QStringLiteral("Continue"), this), "Continue");
    NextRunDarks = named(new QCheckBox(QStringLiteral("Next run: darks"), this), "NextRunDarks");
    NextRunFlats = named(new QCheckBox(QStringLiteral("Next run: flats"), this), "NextRunFlats");
    Reset = named(new QPushButton(QStringLiteral("Reset"), this), "Reset");
    SaveStack = named(new QPushButton(QStringLiteral("Save stack"), this), "SaveStack");

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Continue);
    buttons->addWidget(NextRunDarks);
    buttons->addWidget(NextRunFlats);
    buttons->addStretch();
    buttons->addWidget(Reset);
    buttons->addWidget(SaveStack);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(StackImage);
    layout->addWidget(StackFigures);
    layout->addLayout(buttons);
    layout->addWidget(StackLog);

    connect(&worker_, &LiveStackWorker::viewReady, this,
            [this](const LiveStackSession::View& view) { showView(view); });
    // A run is of darks or of flats, not both.
    for (const auto& pair : {std::pair{NextRunDarks, NextRunFlats}, {NextRunFlats, NextRunDarks}}) {
        QCheckBox* other = pair.second;
        connect(pair.first, &QCheckBox::toggled, other, [other](bool on) {
            if (on) {
                other->setChecked(false);
            }
        });
    }
    connect(Reset, &QPushButton::clicked, this,
            [this] { worker_.submit([](LiveStackSession& s) { return s.reset(); }); });
    connect(SaveStack, &QPushButton::clicked, this, [this] {
        const auto [saveDir, baseName] = saveTarget_();
        save(saveDir, baseName);
    });
}

void LiveStackWindow::runStarted(const QString& /*readMode*/) {
    running_ = isVisible();
    if (!running_) {
        return;
    }
    darkRun_ = NextRunDarks->isChecked();
    NextRunDarks->setChecked(false);
    flatRun_ = NextRunFlats->isChecked();
    NextRunFlats->setChecked(false);
    const bool continueStack = Continue->isChecked();
    worker_.submit([dark = darkRun_, flat = flatRun_, continueStack](LiveStackSession& s) {
        return flat ? s.startFlatRun() : s.startRun(dark, continueStack);
    });
}

void LiveStackWindow::frameFinished(const QImage& picture, const QString& readMode,
                                    std::int32_t exposureMs) {
    if (!running_ || !isVisible()) {
        return;
    }
    // The picture is shared until someone writes to it; the copy keeps the worker's own.
    LiveStackSession::Frame frame{picture.copy(), readMode.toStdString(), exposureMs,
                                  QDateTime::currentDateTimeUtc()};
    if (!worker_.submitFrame(
            [frame = std::move(frame)](LiveStackSession& s) { return s.addFrame(frame); })) {
        StackLog->appendPlainText(
            QStringLiteral("A frame came while one was being stacked and another waited: "
                           "the waiting one was skipped."));
    }
}

void LiveStackWindow::runEnded(bool saveTicked, const std::string& saveDir,
                               const QString& baseName) {
    if (!running_) {
        return;
    }
    running_ = false;
    worker_.submit([](LiveStackSession& s) { return s.endRun(); });
    if (saveTicked && !darkRun_ && !flatRun_) {
        save(saveDir, baseName);
    }
}

void LiveStackWindow::save(const std::string& saveDir, const QString& baseName) {
    worker_.submit([saveDir, baseName](LiveStackSession& s) { return s.save(saveDir, baseName); });
}

void LiveStackWindow::showView(const LiveStackSession::View& view) {
    if (!view.stack.isNull()) {
        StackImage->setPixmap(QPixmap::fromImage(view.stack));
    } else {
        StackImage->setText(QStringLiteral("Nothing stacked yet."));
    }
    StackFigures->setText(view.figures);
    for (const QString& line : view.lines) {
        StackLog->appendPlainText(line);
    }
    emit viewShown();
}

} // namespace lumenvale
