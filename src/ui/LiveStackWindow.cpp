// The Live stack window's controls and their wiring to the worker.
#include "ui/LiveStackWindow.h"

#include "ui/StackView.h"
#include "ui/StretchHistogramView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
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

QDoubleSpinBox* Limit(QWidget* parent, const char* name, double value, double low, double high,
                      double step, const QString& suffix) {
    auto* box = named(new QDoubleSpinBox(parent), name);
    box->setRange(low, high);
    box->setSingleStep(step);
    box->setDecimals(step < 1 ? 2 : 0);
    box->setSuffix(suffix);
    box->setValue(value);
    return box;
}

} // namespace

LiveStackWindow::LiveStackWindow(const std::filesystem::path& workDir, SaveTarget saveTarget,
                                 QWidget* parent)
    : QWidget(parent, Qt::Window), saveTarget_(std::move(saveTarget)), worker_(workDir) {
    setObjectName(QStringLiteral("LiveStack"));
    setWindowTitle(QStringLiteral("Live stack"));
    StackImage = named(new StackView(this), "StackImage");
    StackImage->setText(QStringLiteral("The frames of the next run are stacked here."));
    StackZoom = named(new QComboBox(this), "StackZoom");
    StackZoom->addItem(QStringLiteral("Fit"), 0.0);
    StackZoom->addItem(QStringLiteral("100 %"), 1.0);
    StackZoom->addItem(QStringLiteral("200 %"), 2.0);
    StackHistogram = named(new StretchHistogramView(this), "StackHistogram");
    StackHistogram->setToolTip(QStringLiteral("The stack's histogram: drag the blue line (black) "
                                              "or the red line (white) to stretch the picture"));
    AutoStretch = named(new QPushButton(QStringLiteral("Auto"), this), "AutoStretch");
    AutoStretch->setToolTip(QStringLiteral("Black and white points from the stack itself"));
    StackFigures = named(new QLabel(this), "StackFigures");
    StackFigures->setWordWrap(true);
    StackLog = named(new QPlainTextEdit(this), "StackLog");
    StackLog->setReadOnly(true);
    StackLog->setMaximumBlockCount(500);
    StackLog->setFixedHeight(80);
    Continue = named(new QCheckBox(QStringLiteral("Continue"), this), "Continue");
    NextRunDarks = named(new QCheckBox(QStringLiteral("Next run: darks"), this), "NextRunDarks");
    NextRunFlats = named(new QCheckBox(QStringLiteral("Next run: flats"), this), "NextRunFlats");
    Limits = named(new QPushButton(QStringLiteral("Limits..."), this), "Limits");
    Reset = named(new QPushButton(QStringLiteral("Reset"), this), "Reset");
    SaveStack = named(new QPushButton(QStringLiteral("Save stack"), this), "SaveStack");

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Continue);
    buttons->addWidget(NextRunDarks);
    buttons->addWidget(NextRunFlats);
    buttons->addStretch();
    buttons->addWidget(Limits);
    buttons->addWidget(Reset);
    buttons->addWidget(SaveStack);
    auto* stretch = new QHBoxLayout;
    stretch->addWidget(StackZoom);
    stretch->addWidget(StackHistogram, 1);
    stretch->addWidget(AutoStretch);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(StackImage, 1);
    layout->addLayout(stretch);
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
    connect(StackZoom, &QComboBox::currentIndexChanged, this,
            [this] { StackImage->setZoom(StackZoom->currentData().toDouble()); });
    connect(StackHistogram, &StretchHistogramView::pointsMoved, this,
            [this](StackStretch::Points points) {
                worker_.submitStretch(
                    [points](LiveStackSession& s) { return s.setStretchPoints(points); });
            });
    connect(AutoStretch, &QPushButton::clicked, this, [this] {
        worker_.submitStretch([](LiveStackSession& s) { return s.setStretchPoints({}); });
    });
    connect(Reset, &QPushButton::clicked, this,
            [this] { worker_.submit([](LiveStackSession& s) { return s.reset(); }); });
    connect(Limits, &QPushButton::clicked, this, &LiveStackWindow::editLimits);
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

void LiveStackWindow::editLimits() {
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("StackLimits"));
    dialog.setWindowTitle(QStringLiteral("Limits for stacking"));
    auto* flux = Limit(&dialog, "MinFlux", limits_.minFluxPercent, 0, 100, 5, QStringLiteral(" %"));
    auto* size =
        Limit(&dialog, "MaxSize", limits_.maxSizePercent, 100, 1000, 10, QStringLiteral(" %"));
    auto* elongation = Limit(&dialog, "MaxElongation", limits_.maxElongation, 1, 10, 0.1, {});
    auto* background = Limit(&dialog, "MaxBackground", limits_.maxBackgroundSigma, 1, 100, 0.5,
                             QStringLiteral(" sigma"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("Star flux at least (of the first frame's)"), flux);
    form->addRow(QStringLiteral("Star size at most (of the first frame's)"), size);
    form->addRow(QStringLiteral("Star elongation at most"), elongation);
    form->addRow(QStringLiteral("Background at most (above the run's)"), background);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    limits_ = {flux->value(), size->value(), elongation->value(), background->value()};
    worker_.submit([limits = limits_](LiveStackSession& s) { return s.setLimits(limits); });
}

void LiveStackWindow::showView(const LiveStackSession::View& view) {
    if (!view.stack.isNull()) {
        StackImage->setPicture(view.stack);
    } else {
        StackImage->setText(QStringLiteral("Nothing stacked yet."));
    }
    StackHistogram->setHistogram(view.histogram, {view.levels.black, view.levels.white});
    StackFigures->setText(view.figures);
    for (const QString& line : view.lines) {
        StackLog->appendPlainText(line);
    }
    emit viewShown();
}

} // namespace lumenvale
