// The acquisition dialog: a live preview of the source, "Acquire" (the default button, so one
// Return keystroke confirms it) and "Cancel", with a focus aid beside the picture and a choice
// to stretch it. Its event loop starts at once, so the caller's readout timer fires inside it;
// the device is opened from within that loop.
#pragma once

#include "acquisition/FrameSource.h"
#include "acquisition/dialog/PreviewPacer.h"
#include "analysis/FocusMeasure.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdint>
#include <filesystem>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;

namespace lumenvale {

class FocusAidPanel;

class AcquisitionDialog : public QDialog {
public:
    // `failureLingerMs`: how long a failure stays on the status line before the dialog closes
    // by itself (the Close button closes it sooner). `stretch`: whether the live picture starts
    // stretched.
    AcquisitionDialog(QWidget* parent, FrameSource& source, std::filesystem::path target,
                      int failureLingerMs, bool stretch = false);
    ~AcquisitionDialog() override;

    // Runs the dialog; returns AcquireOk once the frame file is written, or why not.
    std::int32_t run();

    void reject() override;

    // Whether the user left the live picture stretched.
    bool stretch() const;

protected:
    // A left click in the live picture picks the focus star; a click with any other button
    // leaves the choice to the measurement again.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startSource();
    void acquire();
    void pollSource();
    void handle(SourcePoll&& poll);
    void fail(const SourceFailure& failure);
    void finish(std::int32_t result);
    void showPreview(const AcquiredFrame& frame);

    FrameSource& source_;
    std::filesystem::path target_;
    int failureLingerMs_;
    QLabel* preview_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* acquireButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QCheckBox* stretchBox_ = nullptr;
    FocusAidPanel* focusAid_ = nullptr;
    FocusMeasure focus_;
    std::optional<QPointF> pickedStar_;
    PreviewPacer pacer_;
    QElapsedTimer sinceOpened_;
    QTimer pollTimer_;
    bool started_ = false;
    bool confirmed_ = false;
    bool failed_ = false;
    bool finished_ = false;
    std::int32_t result_ = AcquireCancelled;
};

} // namespace lumenvale
