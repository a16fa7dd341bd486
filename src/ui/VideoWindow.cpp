// Wiring the Video window to its session.
#include "ui/VideoWindow.h"

#include "video/VideoFrame.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace lumenvale {

namespace {

// The picture is shown this often at most, as often as the fastest webcam sends one; the
// recording takes every frame whatever the window shows.
constexpr int RefreshMs = 33;
constexpr int HistogramHeight = 64;

QImage HistogramPicture(const std::array<int, 256>& counts, int peak) {
    QImage picture(256, HistogramHeight, QImage::Format_RGB888);
    picture.fill(QColor(24, 24, 24));
    const int most = std::max(1, *std::max_element(counts.begin(), counts.end()));
    QPainter painter(&picture);
    for (int level = 0; level < 256; ++level) {
        const int height = counts[std::size_t(level)] * HistogramHeight / most;
        painter.setPen(level >= 250 ? QColor(255, 80, 80) : QColor(200, 200, 200));
        painter.drawLine(level, HistogramHeight - 1, level, HistogramHeight - 1 - height);
    }
    painter.setPen(QColor(255, 200, 0));
    painter.drawLine(peak, 0, peak, HistogramHeight - 1);
    return picture;
}

} // namespace

VideoWindow::VideoWindow(Acquisition& acquisition, const CaptureState& capture,
                         SaveTarget saveTarget, QWidget* parent)
    : QWidget(parent), session_(acquisition, capture), saveTarget_(std::move(saveTarget)) {
    setObjectName(QStringLiteral("Video"));
    setWindowTitle(QStringLiteral("Video"));
    picture_ = new QLabel(this);
    picture_->setObjectName(QStringLiteral("VideoPicture"));
    picture_->setFixedSize(AcquiredFrame::Width, AcquiredFrame::Height);
    picture_->setToolTip(QStringLiteral("Click to centre the region recorded"));
    picture_->installEventFilter(this);
    histogram_ = new QLabel(this);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("VideoStatus"));
    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("VideoMessage"));
    message_->setWordWrap(true);
    region_ = new QComboBox(this);
    region_->setObjectName(QStringLiteral("VideoRegion"));
    region_->addItem(QStringLiteral("Whole picture"), QSize());
    region_->addItem(QStringLiteral("320 x 240"), QSize(320, 240));
    region_->addItem(QStringLiteral("160 x 120"), QSize(160, 120));
    mono_ = new QCheckBox(QStringLiteral("Mono"), this);
    mono_->setObjectName(QStringLiteral("VideoMono"));
    frames_ = new QSpinBox(this);
    frames_->setObjectName(QStringLiteral("VideoFrames"));
    frames_->setRange(0, 1000000);
    frames_->setSpecialValueText(QStringLiteral("no limit"));
    seconds_ = new QSpinBox(this);
    seconds_->setObjectName(QStringLiteral("VideoSeconds"));
    seconds_->setRange(0, 3600);
    seconds_->setSpecialValueText(QStringLiteral("no limit"));
    record_ = new QPushButton(QStringLiteral("Record"), this);
    record_->setObjectName(QStringLiteral("VideoRecord"));
    stop_ = new QPushButton(QStringLiteral("Stop"), this);
    stop_->setObjectName(QStringLiteral("VideoStop"));

    auto* settings = new QFormLayout;
    settings->addRow(QStringLiteral("Region"), region_);
    settings->addRow(QString(), mono_);
    settings->addRow(QStringLiteral("Frames"), frames_);
    settings->addRow(QStringLiteral("Seconds"), seconds_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(record_);
    buttons->addWidget(stop_);
    auto* side = new QVBoxLayout;
    side->addWidget(histogram_);
    side->addLayout(settings);
    side->addLayout(buttons);
    side->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(picture_);
    top->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(status_);
    layout->addWidget(message_);

    connect(record_, &QPushButton::clicked, this, [this] { record(); });
    connect(stop_, &QPushButton::clicked, this, [this] {
        session_.stopRecording();
        refresh();
    });
    connect(region_, &QComboBox::currentIndexChanged, this,
            [this] { session_.setRegion(region_->currentData().toSize()); });
    connect(&refresh_, &QTimer::timeout, this, [this] { refresh(); });
    refresh_.setInterval(RefreshMs);
    refresh();
}

VideoSession::Choice VideoWindow::choice() const {
    VideoSession::Choice choice;
    choice.mono = mono_->isChecked();
    choice.region = region_->currentData().toSize();
    choice.maxFrames = frames_->value();
    choice.maxSeconds = seconds_->value();
    return choice;
}

void VideoWindow::record() {
    const auto [saveDir, baseName] = saveTarget_();
    if (const auto refused = session_.record(saveDir, baseName, choice())) {
        message_->setText(*refused);
    } else {
        message_->clear();
    }
    refresh();
}

void VideoWindow::refresh() {
    const QString said = session_.takeMessage();
    if (!said.isEmpty()) {
        message_->setText(said);
    }
    const bool recording = session_.recording();
    record_->setEnabled(session_.live() && !recording);
    stop_->setEnabled(recording);
    region_->setEnabled(!recording);
    mono_->setEnabled(!recording);
    status_->setText(
        session_.live()
            ? QStringLiteral("%1; peak %2").arg(session_.status()).arg(session_.monitor().peak())
            : QStringLiteral("No live video."));
    if (const auto& frame = session_.picture()) {
        QImage picture = frame->toImage();
        const QRect region = VideoRegion(region_->currentData().toSize(), session_.centre());
        if (region.size() != picture.size()) {
            QPainter painter(&picture);
            painter.setPen(QPen(recording ? QColor(255, 60, 60) : QColor(255, 200, 0), 1));
            painter.drawRect(region.adjusted(0, 0, -1, -1));
        }
        picture_->setPixmap(QPixmap::fromImage(picture));
        histogram_->setPixmap(QPixmap::fromImage(
            HistogramPicture(session_.monitor().histogram(), session_.monitor().peak())));
    }
}

void VideoWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (const auto failure = session_.start()) {
        message_->setText(*failure);
    }
    refresh_.start();
    refresh();
}

void VideoWindow::closeEvent(QCloseEvent* event) {
    refresh_.stop();
    session_.stop();
    refresh();
    QWidget::closeEvent(event);
}

bool VideoWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == picture_ && event->type() == QEvent::MouseButtonPress && !session_.recording()) {
        session_.setCentre(static_cast<QMouseEvent*>(event)->position().toPoint());
        refresh();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace lumenvale
