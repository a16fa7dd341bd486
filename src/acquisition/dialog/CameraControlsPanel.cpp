// The camera controls panel.
#include "acquisition/dialog/CameraControlsPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace lumenvale {

namespace {

int toInt(std::int64_t value) {
    return int(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                        std::numeric_limits<int>::max()));
}

// Why a control cannot be set now; "" when it can.
QString whyNotSettable(const CameraControl* control) {
    if (control == nullptr) {
        return QStringLiteral("The camera no longer offers this control.");
    }
    if (control->readOnly) {
        return QStringLiteral("Read only: the camera reports it.");
    }
    if (control->grabbed) {
        return QStringLiteral("Held by the driver while the camera streams.");
    }
    if (control->inactive) {
        return QStringLiteral("Inactive: another control (an automatic mode) decides it now.");
    }
    return {};
}

} // namespace

QString CameraControlsPanel::rowName(std::uint32_t id) {
    return QStringLiteral("0x%1").arg(id, 8, 16, QLatin1Char('0'));
}

CameraControlsPanel::CameraControlsPanel(QWidget* parent, CameraSettingsEditor& editor,
                                         const QString& camera)
    : QDialog(parent), editor_(editor) {
    setObjectName(QStringLiteral("CameraControls"));
    setWindowTitle(camera.isEmpty() ? QStringLiteral("Camera controls")
                                    : QStringLiteral("Camera controls: %1").arg(camera));
    setModal(true);

    turnedOff_ = new QLabel(this);
    turnedOff_->setObjectName(QStringLiteral("TurnedOff"));
    turnedOff_->setWordWrap(true);

    auto* rows = new QWidget;
    auto* form = new QFormLayout(rows);
    for (const CameraControl& control : editor_.controls()) {
        addRow(control);
    }
    for (const Row& row : rows_) {
        if (row.value != nullptr) {
            auto* both = new QHBoxLayout;
            both->addWidget(row.input, 1);
            both->addWidget(row.value);
            form->addRow(row.label, both);
        } else if (row.label != nullptr) {
            form->addRow(row.label, row.input);
        } else {
            form->addRow(row.input);
        }
    }
    if (!editor_.frameIntervals().empty()) {
        frameRate_ = new QComboBox;
        frameRate_->setObjectName(QStringLiteral("FrameRate"));
        form->addRow(QStringLiteral("Frame rate"), frameRate_);
        connect(frameRate_, &QComboBox::activated, this, [this](int index) {
            const std::vector<FrameInterval>& intervals = editor_.frameIntervals();
            if (index >= 0 && std::size_t(index) < intervals.size()) {
                const FrameInterval chosen = intervals[std::size_t(index)];
                finish(editor_.setFrameInterval(chosen),
                       QStringLiteral("Frame rate %1: ").arg(chosen.describe()));
            }
        });
    }
    if (rows_.empty() && frameRate_ == nullptr) {
        form->addRow(new QLabel(QStringLiteral("This camera offers no controls.")));
    }
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(rows);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("PanelStatus"));
    status_->setWordWrap(true);
    QPalette warning = status_->palette();
    warning.setColor(QPalette::WindowText, Qt::red);
    status_->setPalette(warning);
    status_->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto* defaults =
        buttons->addButton(QStringLiteral("Camera defaults"), QDialogButtonBox::ResetRole);
    defaults->setObjectName(QStringLiteral("CameraDefaults"));
    defaults->setToolTip(QStringLiteral("Sets every control back to the driver's default, the "
                                        "automatic modes too."));
    // Return typed in a value box sets that value; it neither closes the panel nor presses a
    // button.
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
    }
    connect(defaults, &QPushButton::clicked, this, [this] {
        finish(editor_.restoreDefaults(), QStringLiteral("Not every default was taken:\n"));
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &CameraControlsPanel::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(turnedOff_);
    layout->addWidget(scroll, 1);
    layout->addWidget(status_);
    layout->addWidget(buttons);
    refresh();
}

void CameraControlsPanel::addRow(const CameraControl& control) {
    Row row;
    row.id = control.id;
    const std::uint32_t id = control.id;
    const QString name = rowName(id);
    switch (control.kind) {
    case CameraControl::Kind::Integer: {
        auto* slider = new QSlider(Qt::Horizontal);
        auto* value = new QSpinBox;
        slider->setRange(toInt(control.minimum), toInt(control.maximum));
        slider->setSingleStep(toInt(control.step));
        slider->setPageStep(
            toInt(std::max<std::int64_t>(control.step, (control.maximum - control.minimum) / 10)));
        value->setRange(toInt(control.minimum), toInt(control.maximum));
        value->setSingleStep(toInt(control.step));
        // Set on release, not at every step of a drag, and once a typed number is complete.
        slider->setTracking(false);
        value->setKeyboardTracking(false);
        connect(slider, &QSlider::sliderMoved, value, [value](int v) {
            const QSignalBlocker quiet(value);
            value->setValue(v);
        });
        connect(slider, &QSlider::valueChanged, this, [this, id](int v) { apply(id, v); });
        connect(value, &QSpinBox::valueChanged, this, [this, id](int v) { apply(id, v); });
        value->setObjectName(name + QStringLiteral("Value"));
        row.input = slider;
        row.value = value;
        break;
    }
    case CameraControl::Kind::Boolean: {
        auto* box = new QCheckBox;
        connect(box, &QCheckBox::toggled, this, [this, id](bool on) { apply(id, on ? 1 : 0); });
        row.input = box;
        break;
    }
    case CameraControl::Kind::Menu:
    case CameraControl::Kind::IntegerMenu: {
        auto* list = new QComboBox;
        for (const CameraControl::Choice& choice : control.choices) {
            list->addItem(choice.name, QVariant::fromValue(qlonglong(choice.value)));
        }
        connect(list, &QComboBox::activated, this,
                [this, id, list](int index) { apply(id, list->itemData(index).toLongLong()); });
        row.input = list;
        break;
    }
    case CameraControl::Kind::Button: {
        auto* button = new QPushButton(control.name);
        connect(button, &QPushButton::clicked, this, [this, id] { apply(id, 1); });
        row.input = button;
        break;
    }
    }
    row.input->setObjectName(name);
    if (control.kind != CameraControl::Kind::Button) {
        auto* label = new QLabel(control.name);
        label->setBuddy(row.input);
        row.label = label;
    }
    rows_.push_back(row);
}

void CameraControlsPanel::apply(std::uint32_t id, std::int64_t value) {
    const CameraControl* control = editor_.control(id);
    const QString name = control != nullptr ? control->name : rowName(id);
    finish(editor_.set(id, value), name + QStringLiteral(": "));
}

void CameraControlsPanel::finish(const std::optional<QString>& refused, const QString& what) {
    status_->setText(refused ? what + *refused : QString());
    status_->setVisible(refused.has_value());
    refresh();
}

void CameraControlsPanel::refresh() {
    const QString note = editor_.turnedOffNote();
    turnedOff_->setText(note);
    turnedOff_->setVisible(!note.isEmpty());

    for (const Row& row : rows_) {
        const CameraControl* control = editor_.control(row.id);
        const QString why = whyNotSettable(control);
        for (QWidget* widget : {row.label, row.input, row.value}) {
            if (widget != nullptr) {
                widget->setEnabled(why.isEmpty());
                widget->setToolTip(why);
            }
        }
        if (control == nullptr) {
            continue;
        }
        const QSignalBlocker quietInput(row.input);
        if (auto* slider = qobject_cast<QSlider*>(row.input)) {
            slider->setValue(toInt(control->value));
            const QSignalBlocker quietValue(row.value);
            static_cast<QSpinBox*>(row.value)->setValue(toInt(control->value));
        } else if (auto* box = qobject_cast<QCheckBox*>(row.input)) {
            box->setChecked(control->value != 0);
        } else if (auto* list = qobject_cast<QComboBox*>(row.input)) {
            list->setCurrentIndex(list->findData(QVariant::fromValue(qlonglong(control->value))));
        }
    }

    if (frameRate_ != nullptr) {
        const QSignalBlocker quiet(frameRate_);
        frameRate_->clear();
        const std::vector<FrameInterval>& intervals = editor_.frameIntervals();
        for (const FrameInterval& interval : intervals) {
            frameRate_->addItem(interval.describe());
        }
        const auto current = std::find(intervals.begin(), intervals.end(),
                                       editor_.frameInterval().value_or(FrameInterval{}));
        frameRate_->setCurrentIndex(current == intervals.end() ? -1
                                                               : int(current - intervals.begin()));
    }
}

} // namespace lumenvale
