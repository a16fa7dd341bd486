// The queue on the user-interface thread and the calls on the worker thread.
#include "ui/LiveStackWorker.h"

#include <algorithm>
#include <utility>

namespace lumenvale {

LiveStackWorker::LiveStackWorker(const std::filesystem::path& workDir, QObject* parent)
    : QObject(parent), context_(std::make_unique<QObject>()),
      session_(std::make_unique<LiveStackSession>(workDir)) {
    thread_.setObjectName(QStringLiteral("live stack"));
    context_->moveToThread(&thread_);
    thread_.start(QThread::LowPriority);
}

LiveStackWorker::~LiveStackWorker() {
    thread_.quit();
    thread_.wait();
}

void LiveStackWorker::submit(Job job) {
    queue_.push_back({Kind::Call, std::move(job)});
    dispatch();
}

bool LiveStackWorker::submitFrame(Job job) {
    return submitLatest(Kind::Frame, std::move(job));
}

bool LiveStackWorker::submitLatest(Kind kind, Job job) {
    const auto waiting = std::find_if(queue_.begin(), queue_.end(),
                                      [kind](const Queued& q) { return q.kind == kind; });
    if (waiting != queue_.end()) {
        waiting->job = std::move(job);
        return false;
    }
    queue_.push_back({kind, std::move(job)});
    dispatch();
    return true;
}

void LiveStackWorker::dispatch() {
    if (busy_ || queue_.empty()) {
        return;
    }
    busy_ = true;
    Job job = std::move(queue_.front().job);
    queue_.pop_front();
    LiveStackSession* session = session_.get();
    QMetaObject::invokeMethod(
        context_.get(),
        [this, session, job = std::move(job)] {
            LiveStackSession::View view = job(*session);
            // Dropped by Qt if this object is gone by then.
            QMetaObject::invokeMethod(
                this,
                [this, view = std::move(view)] {
                    busy_ = false;
                    emit viewReady(view);
                    dispatch();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

} // namespace lumenvale
