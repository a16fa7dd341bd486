// Runs, darks, flats, saving and the view of the live stack.
#include "analysis/LiveStackSession.h"

#include "analysis/MidtonesStretch.h"
#include "platform/Errors.h"
#include "platform/SafeWrite.h"

#include <QBuffer>

#include <string_view>

namespace lumenvale {

namespace {

QString Seconds(std::int32_t ms) {
    return QString::number(ms / 1000.0, 'g', 6) + QStringLiteral(" s");
}

// The frame's figures against the stack's first frame.
QString Figures(const LiveStack::Outcome& outcome) {
    const FrameQuality& q = outcome.quality;
    return QStringLiteral("%1 stars, %2 matched, flux %3 %, size %4 %, elongation %5, "
                          "background %6")
        .arg(q.stars)
        .arg(outcome.matchedStars)
        .arg(q.fluxRatio * 100, 0, 'f', 0)
        .arg(q.sizeRatio * 100, 0, 'f', 0)
        .arg(q.elongation, 0, 'f', 2)
        .arg(q.background, 0, 'f', 1);
}

QString Reason(const FileError& error) {
    return QStringLiteral("%1: %2").arg(QString::fromStdString(error.file().string()),
                                        QString::fromStdString(error.reason()));
}

// Takes the picture `choice` found into `master` and its file's name into `name`, saying in
// `lines` why a file of that kind ("Dark", "Flat") was passed over. False when none was found.
template <typename Master>
bool Take(DarkLibrary::Choice choice, const QString& kind, std::optional<Master>& master,
          QString& name, QStringList& lines) {
    if (!choice.problem.isEmpty()) {
        lines << QStringLiteral("%1 passed over: %2.").arg(kind, choice.problem);
    }
    if (!choice.dark) {
        return false;
    }
    master.emplace(std::move(choice.dark->picture));
    name = QString::fromStdString(choice.file.filename().string());
    return true;
}

} // namespace

LiveStackSession::LiveStackSession(const std::filesystem::path& workDir)
    : darks_(workDir / "darks") {}

LiveStackSession::View LiveStackSession::startRun(bool darks, bool continueStack) {
    collecting_ = darks ? Collecting::Darks : Collecting::Nothing;
    runFrames_.clear();
    if (darks) {
        lines_ << QStringLiteral("This run's frames make the master dark.");
    } else if (!continueStack) {
        stack_.reset();
        lastFrame_.clear();
    }
    return view();
}

LiveStackSession::View LiveStackSession::startFlatRun() {
    collecting_ = Collecting::Flats;
    runFrames_.clear();
    lines_ << QStringLiteral("This run's frames make the master flat.");
    return view();
}

LiveStackSession::View LiveStackSession::addFrame(const Frame& frame) {
    if (collecting_ != Collecting::Nothing) {
        if (runFrames_.empty()) {
            runMode_ = frame.readMode;
            runExposureMs_ = frame.exposureMs;
            runDate_ = frame.ended.toUTC().toString(Qt::ISODateWithMs);
        }
        if (frame.readMode != runMode_ || frame.exposureMs != runExposureMs_) {
            lines_ << QStringLiteral("A %1 of another mode or exposure was left out.")
                          .arg(collecting_ == Collecting::Flats ? QStringLiteral("flat")
                                                                : QStringLiteral("dark"));
        } else if (int(runFrames_.size()) < MaxDarkFrames) {
            runFrames_.push_back(frame.picture);
        }
        return view();
    }
    FloatPicture light = FloatPicture::FromImage(frame.picture);
    const MasterDark* dark = darkFor(frame, light.width, light.height);
    const MasterFlat* flat = flatFor(frame, light.width, light.height);
    const bool first = stack_.empty();
    const LiveStack::Outcome outcome =
        stack_.add(std::move(light), dark, frame.exposureMs / 1000.0, flat);
    const int number = stack_.stacked() + stack_.rejected();
    if (!outcome.stacked) {
        lines_ << QStringLiteral("frame %1 refused: %2").arg(number).arg(outcome.problem);
        if (outcome.quality.stars > 0) { // the gate measured it
            lastFrame_ = QStringLiteral("frame %1 refused: %2").arg(number).arg(Figures(outcome));
        }
    } else {
        if (first) {
            firstDate_ =
                frame.ended.addMSecs(-frame.exposureMs).toUTC().toString(Qt::ISODateWithMs);
            stackMode_ = QString::fromStdString(frame.readMode);
        }
        const Similarity& t = outcome.transform;
        lastFrame_ = QStringLiteral("frame %1: shift %2, %3 px, rotation %4°, %5")
                         .arg(number)
                         .arg(t.tx, 0, 'f', 1)
                         .arg(t.ty, 0, 'f', 1)
                         .arg(t.rotationDegrees(), 0, 'f', 2)
                         .arg(Figures(outcome));
    }
    return view();
}

const MasterDark* LiveStackSession::darkFor(const Frame& frame, int width, int height) {
    const std::pair key{frame.readMode, frame.exposureMs};
    if (darkKey_ != key) {
        darkKey_ = key;
        dark_.reset();
        darkName_.clear();
        if (!Take(darks_.find(frame.readMode, frame.exposureMs, width, height),
                  QStringLiteral("Dark"), dark_, darkName_, lines_)) {
            lines_ << QStringLiteral("no dark for %1 %2")
                          .arg(QString::fromStdString(frame.readMode), Seconds(frame.exposureMs));
        }
    }
    return dark_ ? &*dark_ : nullptr;
}

const MasterFlat* LiveStackSession::flatFor(const Frame& frame, int width, int height) {
    if (flatMode_ != frame.readMode) {
        flatMode_ = frame.readMode;
        flat_.reset();
        flatName_.clear();
        if (!Take(darks_.findFlat(frame.readMode, width, height), QStringLiteral("Flat"), flat_,
                  flatName_, lines_)) {
            lines_ << QStringLiteral("no flat for %1").arg(QString::fromStdString(frame.readMode));
        }
    }
    return flat_ ? &*flat_ : nullptr;
}

FloatPicture LiveStackSession::flatOfRun() {
    const int width = runFrames_.front().width();
    const int height = runFrames_.front().height();
    std::optional<MasterDark> dark;
    QString name;
    const QString mode = QString::fromStdString(runMode_);
    if (Take(darks_.find(runMode_, runExposureMs_, width, height), QStringLiteral("Dark"), dark,
             name, lines_)) {
        lines_ << QStringLiteral("The flats take %1 off.").arg(name);
    } else if (Take(darks_.findShortest(runMode_, width, height), QStringLiteral("Bias"), dark,
                    name, lines_)) {
        lines_ << QStringLiteral("No dark for the flats' %1: the shortest dark of %2, %3, taken "
                                 "off as their bias.")
                      .arg(Seconds(runExposureMs_), mode, name);
    } else {
        lines_ << QStringLiteral("No dark of %1 at all: nothing taken off the flats.").arg(mode);
    }
    return MasterFlat(MasterFlat::Combine(runFrames_, dark ? &*dark : nullptr)).picture();
}

LiveStackSession::View LiveStackSession::endRun() {
    if (collecting_ == Collecting::Nothing) {
        return view();
    }
    const bool flats = collecting_ == Collecting::Flats;
    const QString kind = flats ? QStringLiteral("flat") : QStringLiteral("dark");
    collecting_ = Collecting::Nothing;
    if (runFrames_.empty()) {
        lines_ << QStringLiteral("No %1 frame was taken: no master %1 made.").arg(kind);
        return view();
    }
    FitsPicture master{flats ? flatOfRun() : MasterDark::Median(runFrames_),
                       {runExposureMs_ / 1000.0, runMode_, int(runFrames_.size()),
                        runDate_.toStdString(), flats ? "Flat Field" : "Dark Frame"}};
    runFrames_.clear();
    try {
        const std::filesystem::path file =
            flats ? darks_.saveFlat(master) : darks_.save(master, runExposureMs_);
        lines_ << QStringLiteral("Master %1 of %2 frames saved: %3")
                      .arg(kind)
                      .arg(master.header.combined)
                      .arg(QString::fromStdString(file.string()));
    } catch (const FileError& error) {
        lines_ << QStringLiteral("The master %1 was not saved: %2.").arg(kind, Reason(error));
    }
    // The next light looks again.
    darkKey_.reset();
    flatMode_.reset();
    return view();
}

LiveStackSession::View LiveStackSession::save(const std::string& saveDir, const QString& baseName) {
    if (stack_.empty()) {
        lines_ << QStringLiteral("Nothing is stacked yet: nothing saved.");
        return view();
    }
    if (saveDir.empty() || baseName.contains(QLatin1Char('/')) || baseName.contains(QChar(0))) {
        lines_ << QStringLiteral("The stack was not saved: no save directory, or the name "
                                 "\"%1\" cannot be a file name.")
                      .arg(baseName);
        return view();
    }
    const std::filesystem::path base =
        std::filesystem::path(saveDir) / (baseName.toStdString() + "-stack");
    // Stackers and processors that take floating-point pictures (Siril, PixInsight) read them
    // as 0 to 1, and show grey levels of 0 to 255 as white or black; viewers that scale what
    // they get (DS9, KStars) show either alike.
    FitsPicture picture{stack_.mean(),
                        {stack_.totalExposureSeconds(), stackMode_.toStdString(), stack_.stacked(),
                         firstDate_.toStdString()}};
    for (float& value : picture.picture.values) {
        value /= 255.0F;
    }
    try {
        picture.write(std::filesystem::path(base).concat(".fits"));
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        const QImage shown = MidtonesStretch::apply(stack_.mean(), stretch_.levels(stack_.mean()));
        if (!shown.save(&buffer, "PNG")) {
            throw FileError(std::filesystem::path(base).concat(".png"), "PNG encoding failed");
        }
        WriteFileSafely(std::filesystem::path(base).concat(".png"),
                        std::string_view(png.constData(), std::size_t(png.size())));
        lines_ << QStringLiteral("Stack of %1 frames saved: %2.fits, .png")
                      .arg(stack_.stacked())
                      .arg(QString::fromStdString(base.string()));
    } catch (const FileError& error) {
        lines_ << QStringLiteral("The stack was not saved: %1.").arg(Reason(error));
    }
    return view();
}

LiveStackSession::View LiveStackSession::reset() {
    stack_.reset();
    lastFrame_.clear();
    return view();
}

LiveStackSession::View LiveStackSession::setLimits(const StackLimits& limits) {
    stack_.setLimits(limits);
    lines_ << QStringLiteral("Frames are refused below %1 % of the reference's star flux, above "
                             "%2 % of its star size, above %3 elongation, or with the background "
                             "above %4 sigma of the run's.")
                  .arg(limits.minFluxPercent, 0, 'g', 4)
                  .arg(limits.maxSizePercent, 0, 'g', 4)
                  .arg(limits.maxElongation, 0, 'g', 4)
                  .arg(limits.maxBackgroundSigma, 0, 'g', 4);
    return view();
}

LiveStackSession::View
LiveStackSession::setStretchPoints(std::optional<StackStretch::Points> points) {
    stretch_.setPoints(points);
    return view();
}

LiveStackSession::View LiveStackSession::view() {
    View v;
    if (!stack_.empty()) {
        v.levels = stretch_.levels(stack_.mean());
        v.stack = MidtonesStretch::apply(stack_.mean(), v.levels);
        v.histogram = StackStretch::HistogramOf(stack_.mean());
    }
    v.figures = QStringLiteral("%1 stacked, %2 rejected, %3 s in all; dark: %4; flat: %5")
                    .arg(stack_.stacked())
                    .arg(stack_.rejected())
                    .arg(stack_.totalExposureSeconds(), 0, 'g', 6)
                    .arg(darkName_.isEmpty() ? QStringLiteral("none") : darkName_,
                         flatName_.isEmpty() ? QStringLiteral("none") : flatName_);
    if (!lastFrame_.isEmpty()) {
        v.figures += QStringLiteral("; ") + lastFrame_;
    }
    v.lines = lines_;
    lines_.clear();
    return v;
}

} // namespace lumenvale
