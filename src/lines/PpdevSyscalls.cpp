// The kernel calls of the camera port.
#include "lines/PpdevSyscalls.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace lumenvale {

int KernelPpdevSyscalls::open(const char* path, int flags) {
    int fd = -1;
    do {
        fd = ::open(path, flags);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? -errno : fd;
}

int KernelPpdevSyscalls::ioctl(int fd, unsigned long request, void* argument) {
    int result = -1;
    do {
        result = ::ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? -errno : result;
}

int KernelPpdevSyscalls::close(int fd) {
    // Not retried on EINTR: on Linux the descriptor is gone whatever close returned.
    return ::close(fd) < 0 ? -errno : 0;
}

bool KernelPpdevSyscalls::exists(const char* path) {
    return ::access(path, F_OK) == 0;
}

} // namespace lumenvale
