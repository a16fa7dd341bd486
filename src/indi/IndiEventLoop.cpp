// The functions of libindi's eventloop.h, defined over Qt's event loop.
#include "indi/IndiEventLoop.h"

#include <libindi/eventloop.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <dlfcn.h>

#include <cstdio>
#include <map>
#include <memory>

namespace {

// libindi's loop is one per process behind a C interface that has no handle, so its
// registrations live here, file-local.
struct Registrations {
    std::map<int, std::unique_ptr<QSocketNotifier>> callbacks;
    std::map<int, std::unique_ptr<QTimer>> timers;
    std::map<int, std::unique_ptr<QTimer>> workProcs;
    int nextId = 1;
};

Registrations& registrations() {
    static Registrations r;
    return r;
}

// A notifier or timer may be removed from inside its own callback: stop it now, free it later.
template <typename Object> void dispose(std::map<int, std::unique_ptr<Object>>& map, int id) {
    const auto it = map.find(id);
    if (it == map.end()) {
        return;
    }
    it->second->setEnabled(false);
    it->second.release()->deleteLater();
    map.erase(it);
}

void disposeTimer(std::map<int, std::unique_ptr<QTimer>>& map, int id) {
    const auto it = map.find(id);
    if (it == map.end()) {
        return;
    }
    it->second->stop();
    it->second.release()->deleteLater();
    map.erase(it);
}

int startTimer(int ms, TCF* fp, void* ud, bool periodic) {
    Registrations& r = registrations();
    const int id = r.nextId++;
    auto timer = std::make_unique<QTimer>();
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(!periodic);
    QObject::connect(timer.get(), &QTimer::timeout, [id, fp, ud, periodic] {
        if (!periodic) {
            disposeTimer(registrations().timers, id);
        }
        fp(ud);
    });
    timer->start(ms < 0 ? 0 : ms);
    r.timers[id] = std::move(timer);
    return id;
}

int waitFor(int maxms, int* flagp, bool untilZero) {
    const QDeadlineTimer deadline(maxms > 0 ? maxms : -1, Qt::PreciseTimer);
    const auto done = [&] { return untilZero ? *flagp == 0 : *flagp != 0; };
    while (!done()) {
        if (deadline.hasExpired()) {
            return -1;
        }
        QTimer wake;
        wake.setSingleShot(true);
        wake.start(maxms > 0 ? int(deadline.remainingTime()) : 100);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return 0;
}

} // namespace

extern "C" {

int addCallback(int fd, CBF* fp, void* ud) {
    Registrations& r = registrations();
    const int id = r.nextId++;
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [fd, fp, ud] { fp(fd, ud); });
    r.callbacks[id] = std::move(notifier);
    return id;
}

void rmCallback(int cid) {
    dispose(registrations().callbacks, cid);
}

int addTimer(int ms, TCF* fp, void* ud) {
    return startTimer(ms, fp, ud, false);
}

int addPeriodicTimer(int ms, TCF* fp, void* ud) {
    return startTimer(ms, fp, ud, true);
}

int remainingTimer(int tid) {
    const auto& timers = registrations().timers;
    const auto it = timers.find(tid);
    return it == timers.end() ? -1 : it->second->remainingTime();
}

int nsecRemainingTimer(int tid) {
    const int ms = remainingTimer(tid);
    return ms < 0 ? -1 : ms * 1000000;
}

void rmTimer(int tid) {
    disposeTimer(registrations().timers, tid);
}

int addWorkProc(WPF* fp, void* ud) {
    Registrations& r = registrations();
    const int id = r.nextId++;
    auto timer = std::make_unique<QTimer>();
    // A zero timer runs whenever the loop has nothing else to do, as a work procedure does.
    QObject::connect(timer.get(), &QTimer::timeout, [fp, ud] { fp(ud); });
    timer->start(0);
    r.workProcs[id] = std::move(timer);
    return id;
}

void rmWorkProc(int wid) {
    disposeTimer(registrations().workProcs, wid);
}

void addImmediateWork(TCF* fp, void* ud) {
    QTimer::singleShot(0, QCoreApplication::instance(), [fp, ud] { fp(ud); });
}

void eventLoop() {
    QCoreApplication::exec();
}

int deferLoop(int maxms, int* flagp) {
    return waitFor(maxms, flagp, false);
}

int deferLoop0(int maxms, int* flagp) {
    return waitFor(maxms, flagp, true);
}

} // extern "C"

namespace lumenvale {

int RunIndiDriverMain(int argc, char* argv[]) {
    using Main = int (*)(int, char**);
    // The next main() after this executable's own is the one in libindidriver.
    const auto libraryMain = reinterpret_cast<Main>(dlsym(RTLD_NEXT, "main"));
    if (libraryMain == nullptr) {
        std::fprintf(stderr, "%s: libindidriver's main() was not found\n", argv[0]);
        return 1;
    }
    return libraryMain(argc, argv);
}

} // namespace lumenvale
