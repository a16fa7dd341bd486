// The source chooser: the simulated camera and every V4L2 capture device found, with the
// number of frames a webcam lets pass after the readout and its own controls; and the camera
// lines: the adapter, its device, which output follows which data line, and the line test. It
// only edits a choice; the library keeps it.
#pragma once

#include "acquisition/AcquisitionConfig.h"
#include "acquisition/CaptureDevices.h"

#include <QDialog>

#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace lumenvale {

class Clock;
class LineTest;
struct LineCalls;

class SourceChooser : public QDialog {
public:
    // `lineCalls` (may be null: no line devices, no line test) list the line devices and drive
    // the line test on `clock`; `lineDeviceDir` stands for /dev.
    SourceChooser(QWidget* parent, std::vector<CaptureDevice> devices,
                  const AcquisitionConfig& current, LineCalls* lineCalls = nullptr,
                  const Clock* clock = nullptr,
                  const std::filesystem::path& lineDeviceDir = "/dev");
    ~SourceChooser() override;

    // The choice as the dialog shows it now.
    AcquisitionConfig choice() const;

    // Opens the camera controls panel on the chooser for the selected webcam, or with none
    // given for the simulated camera.
    using CameraControlsCall = std::function<void(QWidget* parent, const CaptureDevice* webcam)>;
    // Offers "Camera controls..." for the webcams, and for the simulated camera with
    // `simulatedToo`.
    void offerCameraControls(CameraControlsCall show, bool simulatedToo = false);

private:
    void selectionChanged();
    QWidget* makeLinesSection(const std::filesystem::path& lineDeviceDir);
    // Fills the device list and the mapping for the adapter now selected.
    void adapterChanged(const std::filesystem::path& lineDeviceDir);
    void showMapping(const LineMapping& mapping, bool namesEditable);
    LinesChoice linesChoice() const;

    std::vector<CaptureDevice> devices_;
    QListWidget* list_ = nullptr;
    QSpinBox* skipFrames_ = nullptr;
    QLabel* note_ = nullptr;
    QPushButton* controlsButton_ = nullptr;
    CameraControlsCall showControls_;
    bool simulatedControls_ = false;
    LinesChoice currentLines_;
    LineCalls* lineCalls_ = nullptr;
    LineTest* lineTest_ = nullptr;
    QComboBox* adapter_ = nullptr;
    QComboBox* lineDevice_ = nullptr;
    QTableWidget* mapping_ = nullptr;
    QPushButton* testButton_ = nullptr;
    QLabel* testStep_ = nullptr;
};

} // namespace lumenvale
