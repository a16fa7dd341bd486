// The source chooser dialog.
#include "acquisition/dialog/SourceChooser.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace lumenvale {

SourceChooser::SourceChooser(QWidget* parent, std::vector<CaptureDevice> devices,
                             const AcquisitionConfig& current)
    : QDialog(parent), devices_(std::move(devices)) {
    setObjectName(QStringLiteral("SourceChooser"));
    setWindowTitle(QStringLiteral("Select Source"));
    setModal(true);

    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("SourceList"));
    list_->addItem(QStringLiteral("Simulated camera (built in)"));
    for (const CaptureDevice& device : devices_) {
        QString text =
            QStringLiteral("%1 (%2)").arg(device.name, QString::fromStdString(device.path));
        if (!device.accessible) {
            text += QStringLiteral(": no permission, join the video group");
        }
        if (device.accessible && !device.has640x480) {
            text += QStringLiteral(": no 640 x 480 mode; binned and hi-res processing assume a "
                                   "640 x 480 sensor");
        }
        if (device.timestamped == false) {
            text += QStringLiteral(": no timestamps on its frames, so the frame after the "
                                   "readout is found by counting");
        }
        list_->addItem(text);
    }

    skipFrames_ = new QSpinBox(this);
    skipFrames_->setObjectName(QStringLiteral("SkipFrames"));
    skipFrames_->setRange(0, AcquisitionConfig::MaxSkipFrames);
    skipFrames_->setValue(current.skipFrames);

    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("Note"));
    note_->setWordWrap(true);
    note_->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("Buttons"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Webcam frames to skip after the readout:"), skipFrames_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addLayout(form);
    layout->addWidget(note_);
    layout->addWidget(buttons);

    // Row 0 is the simulated camera, row i + 1 is devices_[i].
    int row = 0;
    const auto byPath = [&](const std::string& path) {
        const auto it = std::find_if(devices_.begin(), devices_.end(),
                                     [&](const CaptureDevice& d) { return d.path == path; });
        return it == devices_.end() ? -1 : int(it - devices_.begin()) + 1;
    };
    switch (current.source) {
    case AcquisitionConfig::Source::Simulated:
        break;
    case AcquisitionConfig::Source::V4l2:
        row = byPath(current.devicePath);
        if (row < 0) {
            row = 0;
            note_->setText(QStringLiteral("The camera %1 (%2) is no longer connected; the "
                                          "simulated camera is selected instead.")
                               .arg(current.deviceName.isEmpty() ? QStringLiteral("chosen before")
                                                                 : current.deviceName,
                                    QString::fromStdString(current.devicePath)));
            note_->show();
        }
        break;
    case AcquisitionConfig::Source::Unset: {
        const auto usable = std::find_if(devices_.begin(), devices_.end(),
                                         [](const CaptureDevice& d) { return d.accessible; });
        row = usable == devices_.end() ? 0 : int(usable - devices_.begin()) + 1;
        break;
    }
    }
    list_->setCurrentRow(row);
    selectionChanged();

    connect(list_, &QListWidget::currentRowChanged, this, &SourceChooser::selectionChanged);
    connect(list_, &QListWidget::itemDoubleClicked, this, &SourceChooser::accept);
    connect(buttons, &QDialogButtonBox::accepted, this, &SourceChooser::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SourceChooser::reject);
}

void SourceChooser::selectionChanged() {
    skipFrames_->setEnabled(list_->currentRow() > 0);
}

AcquisitionConfig SourceChooser::choice() const {
    AcquisitionConfig config;
    config.skipFrames = skipFrames_->value();
    const int row = list_->currentRow();
    if (row > 0 && std::size_t(row) <= devices_.size()) {
        const CaptureDevice& device = devices_[std::size_t(row) - 1];
        config.source = AcquisitionConfig::Source::V4l2;
        config.devicePath = device.path;
        config.deviceName = device.name;
    } else {
        config.source = AcquisitionConfig::Source::Simulated;
    }
    return config;
}

} // namespace lumenvale
