// The working folder and the helper process that removes it once the driver has ended.
#include "indi/WorkFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace lumenvale {

namespace {

// The helper, in the forked child. Only system calls from here on, and none that a preloaded
// library (a test's emulated webcam) takes over: the driver's locks, the allocator's and such a
// library's among them, may have been held by another of its threads at the fork.
[[noreturn]] void RemoveWhenDriverEnds(int guard, int folder, const char* path) {
    // The driver's stop signals (a terminal's Ctrl-C reaches the whole process group) must not
    // end the helper before it has tidied up.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        ::sigaction(signal, &ignore, nullptr);
    }
    ::prctl(PR_SET_NAME, "lumenvale-tidy");
    // The driver's other descriptors (its pipes to the server, say) stay its own: the server
    // sees the driver's end when the driver ends.
    const unsigned low = unsigned(std::min(guard, folder));
    const unsigned high = unsigned(std::max(guard, folder));
    if (low > 0) {
        ::close_range(0, low - 1, 0);
    }
    ::close_range(low + 1, high - 1, 0);
    ::close_range(high + 1, ~0U, 0);

    // Nobody writes to the pipe: it reports a hang-up once the driver's end is closed.
    pollfd hangUp{guard, POLLIN, 0};
    while (::poll(&hangUp, 1, -1) < 0 && errno == EINTR) {
    }

    alignas(dirent64) char listing[4096];
    // Names removed during a listing can hide others from it: list until nothing goes.
    for (bool removed = true; removed;) {
        removed = false;
        ::lseek(folder, 0, SEEK_SET);
        ssize_t n = 0;
        while ((n = ::getdents64(folder, listing, sizeof listing)) > 0) {
            for (ssize_t at = 0; at < n;) {
                const auto* entry = reinterpret_cast<const dirent64*>(listing + at);
                at += entry->d_reclen;
                const char* name = entry->d_name;
                const bool self = std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
                if (!self && ::unlinkat(folder, name, 0) == 0) {
                    removed = true;
                }
            }
        }
    }
    ::rmdir(path);
    ::_exit(0);
}

} // namespace

WorkFolder::WorkFolder(const std::string& prefix) {
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::temp_directory_path(ec);
    if (ec) {
        error_ = "no temporary directory: " + ec.message();
        return;
    }
    std::string name = (parent / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(name.data()) == nullptr) {
        error_ = "cannot make " + name + ": " + std::strerror(errno);
        return;
    }
    path_ = name;

    // Without a helper, the destructor alone removes the folder.
    const int folder = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int ends[2] = {-1, -1};
    if (folder < 0 || ::pipe2(ends, O_CLOEXEC) != 0) {
        if (folder >= 0) {
            ::close(folder);
        }
        return;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        RemoveWhenDriverEnds(ends[0], folder, name.c_str());
    }
    ::close(folder);
    ::close(ends[0]);
    if (pid < 0) {
        ::close(ends[1]);
        return;
    }
    guard_ = ends[1];
    remover_ = pid;
}

WorkFolder::~WorkFolder() {
    if (guard_ >= 0) {
        ::close(guard_);
        while (::waitpid(remover_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    // Also where no helper could be started, or it was killed.
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace lumenvale
