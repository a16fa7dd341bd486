// What the Live stack window does, without the window and without threads: runs of lights
// into the stack, runs of darks and of flats into a master dark and flat, the dark and the flat
// each light takes, saving the stack, and what the window shows (the stretched stack, its
// figures, a line for every problem). The window runs it on a worker thread, one call at a
// time; tests call it directly.
#pragma once

#include "analysis/DarkLibrary.h"
#include "analysis/LiveStack.h"
#include "analysis/MasterDark.h"
#include "analysis/MasterFlat.h"
#include "analysis/StackStretch.h"

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumenvale {

class LiveStackSession {
public:
    // More dark or flat frames than this add nothing to a median but memory.
    static constexpr int MaxDarkFrames = 64;

    struct Frame {
        QImage picture;
        std::string readMode;
        std::int32_t exposureMs = 0;
        QDateTime ended; // UTC
    };

    struct View {
        QImage stack;      // stretched; null while nothing is stacked
        QString figures;   // frames stacked and rejected, exposure, dark, flat, last shift
        QStringList lines; // new lines for the window's log since the last view
        StackStretch::Histogram histogram; // of the stack; empty while nothing is stacked
        MidtonesStretch::Levels levels;    // the stretch shown
    };

    // Darks and flats are kept in `workDir`/darks.
    explicit LiveStackSession(const std::filesystem::path& workDir);

    // A run begins: its frames become darks, or lights that start a new stack unless
    // `continueStack`.
    View startRun(bool darks, bool continueStack);
    // A run begins whose frames make the master flat of their mode; the stack is kept.
    View startFlatRun();
    View addFrame(const Frame& frame);
    // A run of darks or flats ends in its master dark or flat, saved in the darks folder.
    View endRun();
    // "Save stack": `saveDir`/`baseName`-stack.fits and .png.
    View save(const std::string& saveDir, const QString& baseName);
    View reset();
    // The quality gate's limits, for this stack and the next ones.
    View setLimits(const StackLimits& limits);
    // The black and white points the user set on the histogram, or none for the automatic
    // stretch: for the screen and the PNG, kept until changed.
    View setStretchPoints(std::optional<StackStretch::Points> points);

    const LiveStack& stack() const { return stack_; }

private:
    View view();
    const MasterDark* darkFor(const Frame& frame, int width, int height);
    const MasterFlat* flatFor(const Frame& frame, int width, int height);
    // The median of the run's frames with the dark of their exposure, or else the bias, taken off.
    FloatPicture flatOfRun();

    DarkLibrary darks_;
    LiveStack stack_;
    StackStretch stretch_;
    QStringList lines_;
    QString lastFrame_;
    QString stackMode_;
    QString firstDate_;

    // The run of darks or flats going on, and its frames.
    enum class Collecting { Nothing, Darks, Flats };
    Collecting collecting_ = Collecting::Nothing;
    std::vector<QImage> runFrames_;
    std::string runMode_;
    std::int32_t runExposureMs_ = 0;
    QString runDate_;

    // The dark chosen for the last mode and exposure looked up.
    std::optional<std::pair<std::string, std::int32_t>> darkKey_;
    std::optional<MasterDark> dark_;
    QString darkName_;
    // The flat chosen for the last mode looked up.
    std::optional<std::string> flatMode_;
    std::optional<MasterFlat> flat_;
    QString flatName_;
};

} // namespace lumenvale
