// The acquisition dialog: a live preview of the source, "Acquire" (the default button, so one
// Return keystroke confirms it) and "Cancel". Its event loop starts at once, so the caller's
// readout timer fires inside it; the device is opened from within that loop.
#pragma once

#include "platform/acquisition/FrameSource.h"

#include <QDialog>
#include <QTimer>

#include <cstdint>
#include <filesystem>

class QLabel;
class QPushButton;

namespace lumenvale {

class AcquisitionDialog : public QDialog {
public:
    // `failureLingerMs`: how long a failure stays on the status line before the dialog closes
    // by itself (the Close button closes it sooner).
    AcquisitionDialog(QWidget* parent, FrameSource& source, std::filesystem::path target,
                      int failureLingerMs);
    ~AcquisitionDialog() override;

    // Runs the dialog; returns AcquireOk once the frame file is written, or why not.
    std::int32_t run();

    void reject() override;

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
    QTimer pollTimer_;
    bool started_ = false;
    bool confirmed_ = false;
    bool failed_ = false;
    bool finished_ = false;
    std::int32_t result_ = AcquireCancelled;
};

} // namespace lumenvale
