// What a window beside the capture learns of a run: its start, each frame it finishes (the
// processed picture the viewer shows) and its end. Called on the user-interface thread, never
// inside the settle or exposure waits; a watcher must return at once.
#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <string>

namespace lumenvale {

class RunWatcher {
public:
    virtual ~RunWatcher() = default;
    // `readMode` is the button's caption: "2x1 Binned" or "Hi-res".
    virtual void runStarted(const QString& readMode) = 0;
    virtual void frameFinished(const QImage& picture, const QString& readMode,
                               std::int32_t exposureMs) = 0;
    // `saveTicked`: "Save" was ticked at the end; `saveDir` and `baseName` are where the run's
    // frames go.
    virtual void runEnded(bool saveTicked, const std::string& saveDir, const QString& baseName) = 0;
};

} // namespace lumenvale
