// The live stack's own thread: the session's work (darks, star finding, alignment, adding,
// stretching, saving) runs there one call at a time, in the order asked, so that none of it
// holds up the capture on the user-interface thread. A frame that comes while the last one is
// still being stacked waits its turn; at most one waits, a newer one takes its place.
#pragma once

#include "analysis/LiveStackSession.h"

#include <QObject>
#include <QThread>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <utility>

namespace lumenvale {

class LiveStackWorker : public QObject {
    Q_OBJECT

public:
    using Job = std::function<LiveStackSession::View(LiveStackSession&)>;

    explicit LiveStackWorker(const std::filesystem::path& workDir, QObject* parent = nullptr);
    // Waits for the call in progress, drops the rest.
    ~LiveStackWorker() override;
    LiveStackWorker(const LiveStackWorker&) = delete;
    LiveStackWorker& operator=(const LiveStackWorker&) = delete;

    void submit(Job job);
    // False when a frame that was waiting had to make room for this one.
    bool submitFrame(Job job);
    // A new stretch of the stack, as the user drags its points: one that waits gives way to it.
    void submitStretch(Job job) { submitLatest(Kind::Stretch, std::move(job)); }
    bool idle() const { return !busy_ && queue_.empty(); }

signals:
    // On the user-interface thread, after each call.
    void viewReady(const lumenvale::LiveStackSession::View& view);

private:
    enum class Kind { Call, Frame, Stretch };
    struct Queued {
        Kind kind = Kind::Call;
        Job job;
    };
    // False when a call of `kind` that was waiting had to make room for this one.
    bool submitLatest(Kind kind, Job job);
    void dispatch();

    QThread thread_;
    std::unique_ptr<QObject> context_; // lives on thread_
    std::unique_ptr<LiveStackSession> session_;
    std::deque<Queued> queue_;
    bool busy_ = false;
};

} // namespace lumenvale
