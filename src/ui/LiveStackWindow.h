// The "Live stack" window: the stack as it grows, its figures and a log of what went wrong,
// with "Continue", "Next run: darks", "Next run: flats", "Limits...", "Reset" and "Save stack";
// the stack zooms and pans, and its histogram under it takes the stretch's black and white
// points. It only wires: the work is the session's, on the worker's thread.
#pragma once

#include "camera/RunWatcher.h"
#include "ui/LiveStackWorker.h"

#include <QWidget>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace lumenvale {

class StackView;
class StretchHistogramView;

class LiveStackWindow : public QWidget, public RunWatcher {
    Q_OBJECT

public:
    // Where "Save stack" writes: the save directory and the Control window's base name.
    using SaveTarget = std::function<std::pair<std::string, QString>()>;

    // Darks are kept in `workDir`/darks.
    LiveStackWindow(const std::filesystem::path& workDir, SaveTarget saveTarget,
                    QWidget* parent = nullptr);

    // RunWatcher: heeded only while the window is shown.
    void runStarted(const QString& readMode) override;
    void frameFinished(const QImage& picture, const QString& readMode,
                       std::int32_t exposureMs) override;
    void runEnded(bool saveTicked, const std::string& saveDir, const QString& baseName) override;

    // Every call handed to the worker has been answered.
    bool idle() const { return worker_.idle(); }

signals:
    // The window shows the answer to a call (tests wait on it).
    void viewShown();

private:
    void showView(const LiveStackSession::View& view);
    void save(const std::string& saveDir, const QString& baseName);
    // "Limits...": the quality gate's limits, kept while the program runs.
    void editLimits();

    SaveTarget saveTarget_;
    LiveStackWorker worker_;
    bool running_ = false; // a run this window takes part in
    bool darkRun_ = false;
    StackLimits limits_;
    bool flatRun_ = false;

    StackView* StackImage = nullptr;
    QComboBox* StackZoom = nullptr;
    StretchHistogramView* StackHistogram = nullptr;
    QPushButton* AutoStretch = nullptr;
    QLabel* StackFigures = nullptr;
    QPlainTextEdit* StackLog = nullptr;
    QCheckBox* Continue = nullptr;
    QCheckBox* NextRunDarks = nullptr;
    QPushButton* Limits = nullptr;
    QCheckBox* NextRunFlats = nullptr;
    QPushButton* Reset = nullptr;
    QPushButton* SaveStack = nullptr;
};

} // namespace lumenvale
