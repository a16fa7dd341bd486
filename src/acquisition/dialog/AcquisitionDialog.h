// The acquisition dialog: a live preview of the source, "Acquire" (the default button, so one
// Return keystroke confirms it) and "Cancel", with a focus aid beside the picture and a choice
// to stretch it, and while no readout has begun the camera's own controls. Its event loop
// starts at once, so the caller's readout timer fires inside it; the device is opened from
// within that loop, and the live picture, the star measurement and the stretch wait until a
// readout timer has had its chance to tick. Built once, it can run one acquisition after
// another.
#pragma once

#include "acquisition/FrameSource.h"
#include "acquisition/dialog/PreviewPacer.h"
#include "analysis/FocusTracker.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdint>
#include <filesystem>
#include <functional>

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
    AcquisitionDialog(QWidget* parent, int failureLingerMs);
    AcquisitionDialog(QWidget* parent, FrameSource& source, std::filesystem::path target,
                      int failureLingerMs, bool stretch = false);
    ~AcquisitionDialog() override;

    // The live picture waits this long after the dialog opens: a capture's readout timer
    // (1 ms binned, 50 ms for a hi-res field) ticks first and confirms, so none of the
    // picture's work lengthens the exposure. A focus frame's user does not notice the wait.
    static constexpr int PreviewHoldMs = 150;

    // Runs the dialog on the source and file given at construction; returns AcquireOk once
    // the frame file is written, or why not.
    std::int32_t run();
    // Runs the dialog again, on another source and file. The focus star stays followed.
    std::int32_t run(FrameSource& source, std::filesystem::path target, bool stretch);

    void reject() override;

    // Gives the dialog its window now rather than at its first showing. Not by winId(): that
    // marks the dialog native, and Qt then gives every widget of the window it belongs to (the
    // Control window) a native window of its own, each one more to tell of every modal
    // showing and to paint.
    void createWindow() { create(); }

    // Whether the user left the live picture stretched.
    bool stretch() const;

    // The camera's own controls for the runs that follow: `show` opens their panel on the
    // dialog, `allowed` says whether that may be now (not once the frame's readout has begun).
    // No `show`: the dialog offers no controls.
    void offerCameraControls(std::function<void(QWidget*)> show, std::function<bool()> allowed);
    // Where the dialog asks for what there is to say about the camera (the settings it refused)
    // once the source started; said below the picture until a run with nothing to say.
    void setNotices(std::function<QString()> take) { takeNotice_ = std::move(take); }

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
    // Whether the camera controls may be opened now: a live picture before the confirmation.
    bool controlsAllowed() const;
    void showCameraControls();
    void showNotice();

    FrameSource* source_ = nullptr; // during a run only
    std::filesystem::path target_;
    int failureLingerMs_;
    QLabel* preview_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* acquireButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QCheckBox* stretchBox_ = nullptr;
    QPushButton* controlsButton_ = nullptr;
    QLabel* notice_ = nullptr;
    std::function<void(QWidget*)> showControls_;
    std::function<bool()> controlsAllowed_;
    std::function<QString()> takeNotice_;
    bool noticeThisRun_ = false;
    FocusAidPanel* focusAid_ = nullptr;
    FocusTracker focus_;
    int trendStar_ = 0; // the star whose readings the trend holds
    PreviewPacer pacer_;
    QElapsedTimer sinceOpened_;
    QTimer startTimer_;
    QTimer pollTimer_;
    QTimer lingerTimer_;
    bool started_ = false;
    bool confirmed_ = false;
    bool failed_ = false;
    bool finished_ = false;
    std::int32_t result_ = AcquireCancelled;
};

} // namespace lumenvale
