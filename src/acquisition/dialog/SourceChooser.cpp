// The source chooser dialog.
#include "acquisition/dialog/SourceChooser.h"

#include "acquisition/dialog/LineTest.h"
#include "lines/LinePorts.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace lumenvale {

SourceChooser::SourceChooser(QWidget* parent, std::vector<CaptureDevice> devices,
                             const AcquisitionConfig& current, LineCalls* lineCalls,
                             const Clock* clock, const std::filesystem::path& lineDeviceDir)
    : QDialog(parent), devices_(std::move(devices)), currentLines_(current.lines),
      lineCalls_(lineCalls) {
    if (lineCalls_ != nullptr && clock != nullptr) {
        lineTest_ = new LineTest(*lineCalls_, *clock, 1000, this);
    }
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

    controlsButton_ = new QPushButton(QStringLiteral("Camera controls..."), this);
    controlsButton_->setObjectName(QStringLiteral("CameraControlsButton"));
    controlsButton_->setAutoDefault(false);
    controlsButton_->setToolTip(QStringLiteral("The selected camera's own gain, exposure, "
                                               "automatic modes and frame rate."));

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
    layout->addWidget(controlsButton_, 0, Qt::AlignLeft);
    layout->addLayout(form);
    layout->addWidget(note_);
    layout->addWidget(makeLinesSection(lineDeviceDir));
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
    connect(controlsButton_, &QPushButton::clicked, this, [this] {
        const int row = list_->currentRow();
        if (showControls_ && row >= 0) {
            showControls_(this, row == 0 ? nullptr : &devices_[std::size_t(row) - 1]);
        }
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &SourceChooser::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SourceChooser::reject);
}

SourceChooser::~SourceChooser() = default;

QWidget* SourceChooser::makeLinesSection(const std::filesystem::path& lineDeviceDir) {
    auto* box = new QGroupBox(QStringLiteral("Camera lines"), this);
    adapter_ = new QComboBox(box);
    adapter_->setObjectName(QStringLiteral("LinesAdapter"));
    for (const LineAdapter adapter : LineAdapters) {
        adapter_->addItem(QString::fromUtf8(LineAdapterTitle(adapter)));
    }
    lineDevice_ = new QComboBox(box);
    lineDevice_->setObjectName(QStringLiteral("LinesDevice"));
    lineDevice_->setEditable(true);
    mapping_ = new QTableWidget(0, 3, box);
    mapping_->setObjectName(QStringLiteral("LinesMapping"));
    mapping_->setHorizontalHeaderLabels(
        {QStringLiteral("Output"), QStringLiteral("Data line"), QStringLiteral("Inverted")});
    mapping_->verticalHeader()->hide();
    mapping_->horizontalHeader()->setStretchLastSection(true);
    testButton_ = new QPushButton(QStringLiteral("Line test"), box);
    testButton_->setObjectName(QStringLiteral("LineTest"));
    testButton_->setToolTip(QStringLiteral("Steps the lines through the program's states, one a "
                                           "second, naming each: watch the camera or a meter."));
    testButton_->setEnabled(lineTest_ != nullptr);
    testStep_ = new QLabel(box);
    testStep_->setObjectName(QStringLiteral("LineTestStep"));
    testStep_->setWordWrap(true);

    auto* form = new QFormLayout(box);
    form->addRow(QStringLiteral("Adapter:"), adapter_);
    form->addRow(QStringLiteral("Device:"), lineDevice_);
    form->addRow(mapping_);
    form->addRow(testButton_, testStep_);

    adapter_->setCurrentIndex(static_cast<int>(currentLines_.adapter));
    adapterChanged(lineDeviceDir);
    connect(adapter_, &QComboBox::currentIndexChanged, this,
            [this, lineDeviceDir](int) { adapterChanged(lineDeviceDir); });
    if (lineTest_ != nullptr) {
        lineTest_->onReport = [this](const QString& text) { testStep_->setText(text); };
        connect(testButton_, &QPushButton::clicked, this,
                [this] { lineTest_->start(linesChoice()); });
    }
    return box;
}

void SourceChooser::adapterChanged(const std::filesystem::path& lineDeviceDir) {
    const auto adapter = static_cast<LineAdapter>(adapter_->currentIndex());
    lineDevice_->clear();
    if (lineCalls_ != nullptr) {
        for (const LineDevice& device : FindLineDevices(adapter, *lineCalls_, lineDeviceDir)) {
            lineDevice_->addItem(QString::fromStdString(device.label),
                                 QString::fromStdString(device.device));
        }
    }
    const bool current = adapter == currentLines_.adapter;
    if (current && !currentLines_.device.empty()) {
        const QString device = QString::fromStdString(currentLines_.device);
        const int row = lineDevice_->findData(device);
        if (row >= 0) {
            lineDevice_->setCurrentIndex(row);
        } else {
            lineDevice_->setEditText(device);
        }
    } else if (lineDevice_->count() == 0 && adapter == LineAdapter::Parallel) {
        lineDevice_->setEditText(QStringLiteral("/dev/parport0"));
    }
    showMapping(current ? currentLines_.mapping : DefaultLineMapping(adapter),
                adapter == LineAdapter::Gpio);
    mapping_->setVisible(adapter != LineAdapter::Parallel);
}

void SourceChooser::showMapping(const LineMapping& mapping, bool namesEditable) {
    mapping_->setRowCount(static_cast<int>(mapping.outputs.size()));
    for (int row = 0; row < mapping_->rowCount(); ++row) {
        const LineOutput& out = mapping.outputs[static_cast<std::size_t>(row)];
        auto* name = new QTableWidgetItem(QString::fromStdString(out.name));
        if (!namesEditable) {
            name->setFlags(name->flags() & ~Qt::ItemIsEditable);
        }
        mapping_->setItem(row, 0, name);
        auto* line = new QComboBox(mapping_);
        line->addItem(QStringLiteral("none"), -1);
        for (int d = 0; d < 8; ++d) {
            line->addItem(QStringLiteral("D%1").arg(d), d);
        }
        line->setCurrentIndex(out.dataLine + 1);
        mapping_->setCellWidget(row, 1, line);
        auto* inverted = new QTableWidgetItem;
        inverted->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        inverted->setCheckState(out.inverted ? Qt::Checked : Qt::Unchecked);
        mapping_->setItem(row, 2, inverted);
    }
}

LinesChoice SourceChooser::linesChoice() const {
    LinesChoice choice;
    choice.adapter = static_cast<LineAdapter>(adapter_->currentIndex());
    const int row = lineDevice_->currentIndex();
    const QString text = lineDevice_->currentText();
    choice.device =
        (row >= 0 && lineDevice_->itemText(row) == text ? lineDevice_->itemData(row).toString()
                                                        : text)
            .trimmed()
            .toStdString();
    if (choice.adapter != LineAdapter::Parallel) {
        for (int r = 0; r < mapping_->rowCount(); ++r) {
            const auto* line = static_cast<QComboBox*>(mapping_->cellWidget(r, 1));
            choice.mapping.outputs.push_back({mapping_->item(r, 0)->text().trimmed().toStdString(),
                                              line->currentData().toInt(),
                                              mapping_->item(r, 2)->checkState() == Qt::Checked});
        }
    }
    return choice;
}

void SourceChooser::offerCameraControls(CameraControlsCall show, bool simulatedToo) {
    showControls_ = std::move(show);
    simulatedControls_ = simulatedToo;
    selectionChanged();
}

void SourceChooser::selectionChanged() {
    const int row = list_->currentRow();
    skipFrames_->setEnabled(row > 0);
    const bool controls = row == 0 ? simulatedControls_
                                   : row > 0 && std::size_t(row) <= devices_.size() &&
                                         devices_[std::size_t(row) - 1].accessible;
    controlsButton_->setEnabled(showControls_ && controls);
}

AcquisitionConfig SourceChooser::choice() const {
    AcquisitionConfig config;
    config.skipFrames = skipFrames_->value();
    config.lines = linesChoice();
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
