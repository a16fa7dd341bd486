// The four commands of the Control window: Focus, 2x1 Binned, Hi-res and Stop.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <filesystem>

namespace lumenvale {

class CameraLines;
class ControlPanel;
class ExposureTiming;
class FrameDisplay;
class RunWatcher;
struct CaptureState;
struct Services;
struct Settings;

class CaptureCommands {
public:
    // `workDir` holds the working frame files and the raw copies; the program passes ".".
    CaptureCommands(CaptureState& state, const Settings& settings, Services& services,
                    CameraLines& lines, ExposureTiming& timing, ControlPanel& panel,
                    FrameDisplay& viewer, std::filesystem::path workDir);

    // Pulse, then one acquisition into "temp.bmp" that the user confirms or cancels; nothing
    // is timed, processed or shown.
    void focus();
    // A sequence of exposures, each read out once and line-doubled.
    void binned();
    // A sequence of exposures, each read out as two fields and woven into one frame.
    void hires();
    // Ends a running sequence after the frame in progress, cutting its exposure short.
    void stop();

    // The program is closing while a command may be waiting: acts as Stop, so the frame in
    // progress is finished (its exposure cut short, its acquisitions confirmed by their timers)
    // and none follows; only a frame still in its settle wait, which has collected no light
    // yet, is abandoned with the lines at 0x37. A focus frame ends without a message. Nothing
    // happens when no command runs. Cancelling a focus dialog is the window's affair.
    void endSoon();

    // Told of every binned and hi-res run and its frames; null for none. Borrowed.
    void setRunWatcher(RunWatcher* watcher) { watcher_ = watcher; }

private:
    enum class Mode { Binned, Hires };
    // A video being recorded keeps the camera: said, and nothing starts.
    bool videoRecording();
    struct RunEnd; // thrown to end a run; carries the message for the user, if any

    void runSequence(Mode mode);
    void takeBinnedFrame(int frame);
    void takeHiresFrame(int frame);
    // Frame start, exposure state, exposure wait; `readoutSelect` arms the first readout.
    void exposeFrame(int frame, std::int16_t readoutSelect);
    // False when the frame is to be left out and the run goes on; throws RunEnd when the
    // failure ends the run (cancelled by hand, camera gone).
    bool acquire(int frame, unsigned intervalMs, const char* file, const QString& what);
    void showAndSave(int frame);
    // Throws RunEnd when a line write of the frame failed: it had no controlled exposure.
    void checkLines(int frame);
    template <typename Work> void fileStep(int frame, const QString& step, Work&& work);
    QString frameOf(int frame) const;
    std::filesystem::path path(const char* file) const { return workDir_ / file; }

    CaptureState& state_;
    const Settings& settings_;
    Services& services_;
    CameraLines& lines_;
    ExposureTiming& timing_;
    ControlPanel& panel_;
    FrameDisplay& viewer_;
    std::filesystem::path workDir_;
    bool ending_ = false;
    RunWatcher* watcher_ = nullptr;
    QString readMode_;                 // the caption of the run in progress
    std::int32_t frameExposureMs_ = 0; // the exposure the frame in progress was given
    // The frames of the run in progress that were left out, with why.
    QStringList failedFrames_;
    // Said after the run: what went wrong in a frame that was still taken.
    QStringList notes_;
};

} // namespace lumenvale
