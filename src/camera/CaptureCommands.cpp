// The capture commands, frame by frame: lines, exposure, readout, raw copies, processing,
// display, auto-save and count-down.
#include "camera/CaptureCommands.h"

#include "acquisition/Acquisition.h"
#include "camera/CameraLines.h"
#include "camera/CaptureState.h"
#include "camera/ControlPanel.h"
#include "camera/ExposureTiming.h"
#include "camera/FrameDisplay.h"
#include "camera/LineStates.h"
#include "camera/NumberText.h"
#include "camera/RunWatcher.h"
#include "camera/Services.h"
#include "frames/FrameSteps.h"
#include "frames/SequenceSave.h"
#include "lines/LineMonitor.h"
#include "platform/Clock.h"
#include "platform/Errors.h"
#include "platform/FileSystemObject.h"
#include "platform/MessagePump.h"
#include "platform/Messages.h"
#include "platform/Pictures.h"
#include "settings/Settings.h"

#include <exception>
#include <optional>
#include <utility>

namespace lumenvale {

struct CaptureCommands::RunEnd {
    QString message; // empty: the run ends without a word (the program is closing)
};

namespace {

QString CountRangeMessage(const QString& text) {
    return QStringLiteral("The Number of Images \"%1\" is out of range: it must lie between "
                          "-32768 and 32767. No frame was taken.")
        .arg(text);
}

QString ExposureRangeMessage(const QString& text) {
    return QStringLiteral("The Exposure time \"%1\" is out of range: it must lie between "
                          "-2147483.648 and 2147483.647 seconds. The run was ended.")
        .arg(text);
}

QString ExposureChangedMessage(const QString& text, const QString& frame, std::int32_t plannedMs) {
    return QStringLiteral("The Exposure time \"%1\" read as %2 began is out of range: it must lie "
                          "between -2147483.648 and 2147483.647 seconds. The frame was exposed "
                          "for the %3 seconds the box held before it started.")
        .arg(text, frame.toLower(), QString::number(plannedMs / 1000.0, 'g', 10));
}

QString FileName(const char* file) {
    return QString::fromUtf8(file);
}

} // namespace

CaptureCommands::CaptureCommands(CaptureState& state, const Settings& settings, Services& services,
                                 CameraLines& lines, ExposureTiming& timing, ControlPanel& panel,
                                 FrameDisplay& viewer, std::filesystem::path workDir)
    : state_(state), settings_(settings), services_(services), lines_(lines), timing_(timing),
      panel_(panel), viewer_(viewer), workDir_(std::move(workDir)) {}

void CaptureCommands::focus() {
    if (state_.CaptureBusy == 1 || videoRecording()) {
        return;
    }
    state_.CaptureBusy = 1;
    services_.acquisition.openSource();
    lines_.clearWriteFailure();
    lines_.writePulse();
    if (!lines_.writeFailure().empty()) {
        // The camera never got its frame start: what the dialog would show is not a frame.
        state_.CaptureBusy = 0;
        services_.messages.MsgBox(
            QStringLiteral("The camera lines failed: %1. The focus frame was not taken.")
                .arg(QString::fromStdString(lines_.writeFailure())));
        return;
    }
    // No readout timer: the user confirms or cancels the dialog, and the lines stay at 0x37.
    const std::int32_t result =
        services_.acquisition.TWAIN_AcquireToFilename(panel_.hwnd(), path(TempFile).string());
    state_.CaptureBusy = 0;
    const bool quiet = std::exchange(ending_, false);
    // Cancelling is the user's ordinary way out of a focus frame; a source that failed is not.
    if (result != AcquireOk && result != AcquireCancelled && !quiet) {
        services_.messages.MsgBox(QStringLiteral("The focus frame was not taken: %1.")
                                      .arg(DescribeAcquireResult(result)));
    }
}

void CaptureCommands::binned() {
    runSequence(Mode::Binned);
}

void CaptureCommands::hires() {
    runSequence(Mode::Hires);
}

bool CaptureCommands::videoRecording() {
    if (!services_.acquisition.recordingVideo()) {
        return false;
    }
    services_.messages.MsgBox(QStringLiteral("A video is being recorded: stop it in the Video "
                                             "window before taking frames."));
    return true;
}

void CaptureCommands::stop() {
    if (state_.CaptureBusy != 1) {
        return;
    }
    state_.FramesRemaining = 0;
    state_.ExposureMs = 0;
    panel_.setCommand4Enabled(false);
}

void CaptureCommands::endSoon() {
    if (state_.CaptureBusy != 1) {
        return;
    }
    ending_ = true;
    stop();
}

void CaptureCommands::runSequence(Mode mode) {
    if (state_.CaptureBusy == 1 || videoRecording()) {
        return;
    }
    state_.CaptureBusy = 1;
    panel_.setCommand4Enabled(true);
    // The camera's start-up must come before the first line write, never inside an exposure;
    // so must the building of the acquisition dialog.
    services_.acquisition.openSource();
    services_.acquisition.prepareDialog(panel_.hwnd());
    failedFrames_.clear();
    notes_.clear();
    lines_.clearWriteFailure();

    QString problem;
    const QString countText = panel_.Text3();
    const std::optional<std::int16_t> count = TextToCount(countText);
    if (!count) {
        // The box keeps what was typed: there is no count to show instead.
        problem = CountRangeMessage(countText);
    } else {
        state_.FramesRequested = *count;
        state_.FramesRemaining = *count;
        readMode_ = mode == Mode::Binned ? QStringLiteral("2x1 Binned") : QStringLiteral("Hi-res");
        if (watcher_ != nullptr) {
            watcher_->runStarted(readMode_);
        }
        try {
            int frame = 0;
            while (state_.FramesRemaining >= 1) {
                ++frame;
                if (mode == Mode::Binned) {
                    takeBinnedFrame(frame);
                } else {
                    takeHiresFrame(frame);
                }
                // Never below -1: Stop sets 0 during a frame, the count-down takes it to -1.
                state_.FramesRemaining = static_cast<std::int16_t>(state_.FramesRemaining - 1);
                panel_.setText3(CountToText(state_.FramesRemaining));
            }
        } catch (const RunEnd& end) {
            problem = end.message;
        }
        panel_.setText3(CountToText(state_.FramesRequested));
        if (watcher_ != nullptr) {
            watcher_->runEnded(panel_.Check5() == 1, settings_.SaveDir, panel_.Text4());
        }
    }
    state_.CaptureBusy = 0;
    ending_ = false;
    if (!failedFrames_.isEmpty()) {
        notes_.prepend(QStringLiteral("%1 of %2 frames were not taken; the run went on "
                                      "without them:\n%3")
                           .arg(failedFrames_.size())
                           .arg(state_.FramesRequested)
                           .arg(failedFrames_.join(QLatin1Char('\n'))));
        failedFrames_.clear();
    }
    // The message comes after the run has ended, so that nothing waits on the user's answer.
    // It is shown while the program closes too: the frame it is about was meant to be kept.
    if (!problem.isEmpty()) {
        notes_.append(problem);
    }
    if (!notes_.isEmpty()) {
        services_.messages.MsgBox(notes_.join(QStringLiteral("\n\n")));
    }
}

void CaptureCommands::takeBinnedFrame(int frame) {
    exposeFrame(frame, 1);
    const bool acquired = acquire(frame, BinnedTimerMs, TempFile, QString());
    services_.pump.DoEvents();
    if (!acquired) {
        return;
    }
    fileStep(frame, QStringLiteral("keeping the raw copy %1").arg(FileName(BinnedRawFile)),
             [&] { services_.files.CopyFile(path(TempFile), path(BinnedRawFile), true); });
    fileStep(frame, QStringLiteral("line doubling"), [&] { DoubleFrameLines(workDir_); });
    showAndSave(frame);
}

void CaptureCommands::takeHiresFrame(int frame) {
    exposeFrame(frame, 0);
    const bool firstField = acquire(frame, HiresTimerMs, TempFile, QStringLiteral("first field"));
    if (firstField) {
        fileStep(frame, QStringLiteral("keeping the raw copy %1").arg(FileName(Field1RawFile)),
                 [&] { services_.files.CopyFile(path(TempFile), path(Field1RawFile), true); });
    }

    // The second field has no exposure of its own: it is read out at once, and the lines stay
    // at the first field's readout state until its timer ticks.
    state_.ReadoutSelect = 1;
    state_.TimerPhase = 0;
    state_.ExposureMs = 0;
    state_.ExposureStart = services_.clock.timeGetTime();
    // Read out even after a failed first field, so the lines go through the frame's usual
    // states and the camera starts the next frame as always.
    const bool secondField =
        acquire(frame, HiresTimerMs, Temp2File, QStringLiteral("second field"));
    if (!firstField || !secondField) {
        services_.pump.DoEvents();
        return;
    }
    fileStep(frame, QStringLiteral("keeping the raw copy %1").arg(FileName(Field2RawFile)),
             [&] { services_.files.CopyFile(path(Temp2File), path(Field2RawFile), true); });
    services_.pump.DoEvents();

    // Matching works on the fields as acquired, before any swap: "temp2.bmp" is the 0x37 field.
    if (panel_.Check6() == 1) {
        fileStep(frame, QStringLiteral("brightness matching"),
                 [&] { MatchFieldBrightness(workDir_, services_.messages); });
    }
    if (settings_.DeinterlaceOrder == 2) {
        fileStep(frame, QStringLiteral("swapping the fields"),
                 [&] { SwapFieldFiles(workDir_, services_.files); });
    }
    fileStep(frame, QStringLiteral("interleaving the fields"), [&] { InterleaveFields(workDir_); });
    showAndSave(frame);
}

void CaptureCommands::exposeFrame(int frame, std::int16_t readoutSelect) {
    // Checked before the first line of the frame is written, so that a time that cannot be
    // taken leaves the camera alone. The box is read again below, where the exposure is set.
    const QString plannedText = panel_.Text2();
    const std::optional<std::int32_t> plannedMs = SecondsTextToMs(plannedText);
    if (!plannedMs) {
        throw RunEnd{ExposureRangeMessage(plannedText)};
    }

    lines_.writePulse();
    timing_.settleWait();
    // Closing in the settle wait: no light has been collected, so nothing is lost, and the
    // lines stay at 0x37 from the pulse.
    if (ending_) {
        throw RunEnd{};
    }
    lines_.writeSettled();
    lines_.writeExposureState(panel_.Check4());
    checkLines(frame);
    // The exposure is timed from the sending of the write that put the camera's lines into
    // it. A USB adapter's write returns a round trip after it was sent, and so will the
    // readout's: from sending to sending, the camera gets the time asked for, not that plus a
    // round trip. Where the mapping carries the settle and exposure states alike (the serial
    // default with Amp on), the exposure-state write moves nothing and the moment is an earlier
    // write's. On the parallel port a write takes no time.
    constexpr std::size_t SettleAndExposureWrites = 3;
    state_.ExposureStart = services_.clock.timeGetTime();
    if (const std::optional<LineWrite> entered =
            services_.lines.lastMoved(SettleAndExposureWrites)) {
        state_.ExposureStart = TickAdd(entered->tick, -entered->sendingMs);
    }
    state_.ReadoutSelect = readoutSelect;
    state_.TimerPhase = 0;

    // Read after the exposure has started, so an edit made during a run applies from the
    // next frame on, not from the middle of a wait.
    const QString exposureText = panel_.Text2();
    std::optional<std::int32_t> exposureMs = SecondsTextToMs(exposureText);
    if (!exposureMs) {
        // Edited into something out of range during the settle wait. The exposure has begun
        // and the frame must not be lost: it takes the time checked before it started.
        notes_.append(ExposureChangedMessage(exposureText, frameOf(frame), *plannedMs));
        exposureMs = plannedMs;
    }
    state_.ExposureMs = *exposureMs;
    frameExposureMs_ = *exposureMs;
    panel_.setProgressMax(static_cast<float>(state_.ExposureMs));
    panel_.setProgressValue(0.0F);
    timing_.WaitForExposure(panel_);
    panel_.setProgressValue(0.0F);
}

bool CaptureCommands::acquire(int frame, unsigned intervalMs, const char* file,
                              const QString& what) {
    const std::int32_t result =
        timing_.acquireWithReadoutTimer(panel_.hwnd(), intervalMs, path(file).string());
    // The readout state was written by the timer during the acquisition.
    checkLines(frame);
    if (result == AcquireOk) {
        return true;
    }
    // Whatever the working file holds now is an older frame: it is neither copied nor shown.
    const QString readout =
        what.isEmpty() ? QStringLiteral("reading out into %1").arg(FileName(file))
                       : QStringLiteral("reading out the %1 into %2").arg(what, FileName(file));
    switch (result) {
    case AcquireCancelled: // by hand: the user wants the run to end
    case AcquireNoSource:  // the camera is gone, and so are the frames still to come
    case AcquireDeviceBusy:
    case AcquirePermissionDenied:
        throw RunEnd{QStringLiteral("%1 was not taken: %2 (%3). The run was ended.")
                         .arg(frameOf(frame), DescribeAcquireResult(result), readout)};
    default:
        // One bad frame must not cost an unattended run the rest of the night: the frame is
        // left out, its number stays unused, and the run goes on.
        failedFrames_.append(QStringLiteral("%1: %2 (%3).")
                                 .arg(frameOf(frame), DescribeAcquireResult(result), readout));
        return false;
    }
}

void CaptureCommands::showAndSave(int frame) {
    fileStep(frame, QStringLiteral("loading the frame for display"),
             [&] { viewer_.showPicture(LoadPicture(path(TempFile))); });
    if (watcher_ != nullptr) {
        watcher_->frameFinished(viewer_.Picture(), readMode_, frameExposureMs_);
    }
    if (panel_.Check5() == 1) {
        fileStep(frame, QStringLiteral("saving the frame"), [&] {
            SaveSequenceFrame(state_.FramesRequested, state_.FramesRemaining, settings_.SaveDir,
                              panel_.Text4(), viewer_.Picture());
        });
    }
}

template <typename Work>
void CaptureCommands::fileStep(int frame, const QString& step, Work&& work) {
    try {
        std::forward<Work>(work)();
    } catch (const FileError& error) {
        throw RunEnd{QStringLiteral("%1 was not finished: %2 failed on %3: %4. The run was "
                                    "ended.")
                         .arg(frameOf(frame), step, QString::fromStdString(error.file().string()),
                              QString::fromStdString(error.reason()))};
    } catch (const std::exception& error) {
        throw RunEnd{QStringLiteral("%1 was not finished: %2 failed: %3. The run was ended.")
                         .arg(frameOf(frame), step, QString::fromUtf8(error.what()))};
    }
}

void CaptureCommands::checkLines(int frame) {
    if (lines_.writeFailure().empty()) {
        return;
    }
    QString message = QStringLiteral("The camera lines failed: %1. %2 was not kept: its exposure "
                                     "was not under control. The run was ended")
                          .arg(QString::fromStdString(lines_.writeFailure()), frameOf(frame));
    if (frame + 1 == state_.FramesRequested) {
        message += QStringLiteral("; frame %1 was not taken").arg(frame + 1);
    } else if (frame < state_.FramesRequested) {
        message += QStringLiteral("; frames %1 to %2 were not taken")
                       .arg(frame + 1)
                       .arg(state_.FramesRequested);
    }
    throw RunEnd{message + QLatin1Char('.')};
}

QString CaptureCommands::frameOf(int frame) const {
    return QStringLiteral("Frame %1 of %2").arg(frame).arg(state_.FramesRequested);
}

} // namespace lumenvale
