// The source chooser: the simulated camera and every V4L2 capture device found, with the
// number of frames a webcam lets pass after the readout. It only edits a choice; the library
// keeps it.
#pragma once

#include "acquisition/AcquisitionConfig.h"
#include "acquisition/CaptureDevices.h"

#include <QDialog>

#include <vector>

class QLabel;
class QListWidget;
class QSpinBox;

namespace lumenvale {

class SourceChooser : public QDialog {
public:
    SourceChooser(QWidget* parent, std::vector<CaptureDevice> devices,
                  const AcquisitionConfig& current);

    // The choice as the dialog shows it now.
    AcquisitionConfig choice() const;

private:
    void selectionChanged();

    std::vector<CaptureDevice> devices_;
    QListWidget* list_ = nullptr;
    QSpinBox* skipFrames_ = nullptr;
    QLabel* note_ = nullptr;
};

} // namespace lumenvale
