// The camera controls panel: one row for each of the camera's own controls, named as its driver
// names them (a slider with its value, a tick box, a list, a button), its frame rate, and the
// camera's defaults. Every change goes through the editor and the whole panel is read back from
// the camera after it, as one control may make another inactive. Controls the user may not set
// now are shown, greyed.
#pragma once

#include "acquisition/CameraSettingsEditor.h"

#include <QDialog>

#include <cstdint>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QWidget;

namespace lumenvale {

class CameraControlsPanel : public QDialog {
public:
    // `camera` names it in the title ("" leaves the plain title).
    CameraControlsPanel(QWidget* parent, CameraSettingsEditor& editor, const QString& camera = {});

    // The object name of the row of control `id`, "0x00980900" (its value box: + "Value").
    static QString rowName(std::uint32_t id);

private:
    struct Row {
        std::uint32_t id = 0;
        QWidget* label = nullptr;
        QWidget* input = nullptr; // the slider, tick box, list or button
        QWidget* value = nullptr; // an integer's value box
    };

    void addRow(const CameraControl& control);
    void apply(std::uint32_t id, std::int64_t value);
    // Shows what the last change said, then every row as the camera has it now.
    void finish(const std::optional<QString>& refused, const QString& what);
    void refresh();

    CameraSettingsEditor& editor_;
    std::vector<Row> rows_;
    QLabel* turnedOff_ = nullptr;
    QLabel* status_ = nullptr;
    QComboBox* frameRate_ = nullptr;
};

} // namespace lumenvale
