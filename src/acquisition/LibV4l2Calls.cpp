// libv4l2 behind the V4L2 call interface.
#include "acquisition/LibV4l2Calls.h"

#include <cerrno>
#include <fcntl.h>
#include <libv4l2.h>
#include <sys/mman.h>
#include <unistd.h>

namespace lumenvale {

namespace {

int result(int value) {
    return value < 0 ? -errno : value;
}

} // namespace

int LibV4l2Calls::open(const std::string& path, int flags) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return -errno;
    }
    // Without its conversion libv4l2 hands over the camera's own buffers: their byte counts
    // and error flags are the driver's, and a damaged frame is not silently replaced.
    if (v4l2_fd_open(fd, V4L2_DISABLE_CONVERSION) < 0) {
        const int error = errno;
        ::close(fd);
        return -error;
    }
    return fd;
}

int LibV4l2Calls::close(int fd) {
    // Not retried on EINTR: on Linux the descriptor is gone whatever close returned.
    return result(v4l2_close(fd));
}

int LibV4l2Calls::ioctl(int fd, unsigned long request, void* arg) {
    int value = -1;
    do {
        value = v4l2_ioctl(fd, request, arg);
    } while (value < 0 && errno == EINTR);
    return result(value);
}

int LibV4l2Calls::mmap(int fd, std::size_t length, std::int64_t offset, void** start) {
    void* mapped = v4l2_mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    if (mapped == MAP_FAILED) {
        return -errno;
    }
    *start = mapped;
    return 0;
}

int LibV4l2Calls::munmap(void* start, std::size_t length) {
    return result(v4l2_munmap(start, length));
}

} // namespace lumenvale
