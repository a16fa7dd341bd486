// The "Video" window (Camera > Video): the camera's live picture at its own rate, the frame
// rate and the frames dropped, the levels of the part recorded with their peak (to set the
// gain by), and Record / Stop to a SER file in the save directory. A click on the picture
// centres the region recorded. It only wires: the work is the session's.
#pragma once

#include "ui/VideoSession.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>
#include <utility>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace lumenvale {

class VideoWindow : public QWidget {
    Q_OBJECT

public:
    // Where a recording goes: the save directory and the Control window's base name.
    using SaveTarget = std::function<std::pair<std::string, QString>()>;
    VideoWindow(Acquisition& acquisition, const CaptureState& capture, SaveTarget saveTarget,
                QWidget* parent = nullptr);

    VideoSession& session() { return session_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void record();
    void refresh();
    VideoSession::Choice choice() const;

    VideoSession session_;
    SaveTarget saveTarget_;
    QTimer refresh_;
    QLabel* picture_ = nullptr;
    QLabel* histogram_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* message_ = nullptr;
    QComboBox* region_ = nullptr;
    QCheckBox* mono_ = nullptr;
    QSpinBox* frames_ = nullptr;
    QSpinBox* seconds_ = nullptr;
    QPushButton* record_ = nullptr;
    QPushButton* stop_ = nullptr;
};

} // namespace lumenvale
