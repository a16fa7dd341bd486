// Runs, darks, saving and the view of the live stack.
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

QString Reason(const FileError& error) {
    return QStringLiteral("%1: %2").arg(QString::fromStdString(error.file().string()),
                                        QString::fromStdString(error.reason()));
}

} // namespace

LiveStackSession::LiveStackSession(const std::filesystem::path& workDir)
    : darks_(workDir / "darks") {}

LiveStackSession::View LiveStackSession::startRun(bool darks, bool continueStack) {
    collectingDarks_ = darks;
    darkFrames_.clear();
    if (darks) {
        lines_ << QStringLiteral("This run's frames make the master dark.");
    } else if (!continueStack) {
        stack_.reset();
        lastFrame_.clear();
    }
    return view();
}

LiveStackSession::View LiveStackSession::addFrame(const Frame& frame) {
    if (collectingDarks_) {
        if (darkFrames_.empty()) {
            darkMode_ = frame.readMode;
            darkExposureMs_ = frame.exposureMs;
            darkDate_ = frame.ended.toUTC().toString(Qt::ISODateWithMs);
        }
        if (frame.readMode != darkMode_ || frame.exposureMs != darkExposureMs_) {
            lines_ << QStringLiteral("A dark of another mode or exposure was left out.");
        } else if (int(darkFrames_.size()) < MaxDarkFrames) {
            darkFrames_.push_back(frame.picture);
        }
        return view();
    }
    FloatPicture light = FloatPicture::FromImage(frame.picture);
    const MasterDark* dark = darkFor(frame, light.width, light.height);
    const bool first = stack_.empty();
    const LiveStack::Outcome outcome =
        stack_.add(std::move(light), dark, frame.exposureMs / 1000.0);
    if (!outcome.stacked) {
        lines_ << QStringLiteral("A frame was not stacked: %1.").arg(outcome.problem);
    } else {
        if (first) {
            firstDate_ =
                frame.ended.addMSecs(-frame.exposureMs).toUTC().toString(Qt::ISODateWithMs);
            stackMode_ = QString::fromStdString(frame.readMode);
        }
        const Similarity& t = outcome.transform;
        lastFrame_ = QStringLiteral("last frame: shift %1, %2 px, rotation %3°, %4 stars")
                         .arg(t.tx, 0, 'f', 1)
                         .arg(t.ty, 0, 'f', 1)
                         .arg(t.rotationDegrees(), 0, 'f', 2)
                         .arg(outcome.matchedStars);
    }
    return view();
}

const MasterDark* LiveStackSession::darkFor(const Frame& frame, int width, int height) {
    const std::pair key{frame.readMode, frame.exposureMs};
    if (darkKey_ != key) {
        darkKey_ = key;
        dark_.reset();
        darkName_.clear();
        DarkLibrary::Choice choice = darks_.find(frame.readMode, frame.exposureMs, width, height);
        if (!choice.problem.isEmpty()) {
            lines_ << QStringLiteral("Dark passed over: %1.").arg(choice.problem);
        }
        if (choice.dark) {
            dark_.emplace(std::move(choice.dark->picture));
            darkName_ = QString::fromStdString(choice.file.filename().string());
        } else {
            lines_ << QStringLiteral("no dark for %1 %2")
                          .arg(QString::fromStdString(frame.readMode), Seconds(frame.exposureMs));
        }
    }
    return dark_ ? &*dark_ : nullptr;
}

LiveStackSession::View LiveStackSession::endRun() {
    if (!collectingDarks_) {
        return view();
    }
    collectingDarks_ = false;
    if (darkFrames_.empty()) {
        lines_ << QStringLiteral("No dark frame was taken: no master dark made.");
        return view();
    }
    FitsPicture master{
        MasterDark::Median(darkFrames_),
        {darkExposureMs_ / 1000.0, darkMode_, int(darkFrames_.size()), darkDate_.toStdString()}};
    darkFrames_.clear();
    try {
        const std::filesystem::path file = darks_.save(master, darkExposureMs_);
        lines_ << QStringLiteral("Master dark of %1 frames saved: %2")
                      .arg(master.header.combined)
                      .arg(QString::fromStdString(file.string()));
    } catch (const FileError& error) {
        lines_ << QStringLiteral("The master dark was not saved: %1.").arg(Reason(error));
    }
    darkKey_.reset(); // the next light looks again
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
    FitsPicture picture{stack_.mean(),
                        {stack_.totalExposureSeconds(), stackMode_.toStdString(), stack_.stacked(),
                         firstDate_.toStdString()}};
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
    v.figures = QStringLiteral("%1 stacked, %2 rejected, %3 s in all; dark: %4")
                    .arg(stack_.stacked())
                    .arg(stack_.rejected())
                    .arg(stack_.totalExposureSeconds(), 0, 'g', 6)
                    .arg(darkName_.isEmpty() ? QStringLiteral("none") : darkName_);
    if (!lastFrame_.isEmpty()) {
        v.figures += QStringLiteral("; ") + lastFrame_;
    }
    v.lines = lines_;
    lines_.clear();
    return v;
}

} // namespace lumenvale
