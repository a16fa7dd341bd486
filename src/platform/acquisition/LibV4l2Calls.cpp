// libv4l2 behind the V4L2 call interface.
#include "platform/acquisition/LibV4l2Calls.h"

#include <cerrno>
#include <fcntl.h>
#include <libv4l2.h>
#include <sys/mman.h>
#include <unistd.h>

namespace lumenvale {

int LibV4l2Calls::openDevice(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    // Without its conversion libv4l2 hands over the camera's own buffers: their byte counts
    // and error flags are the driver's, and a damaged frame is not silently replaced.
    if (v4l2_fd_open(fd, V4L2_DISABLE_CONVERSION) < 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int LibV4l2Calls::closeDevice(int fd) {
    return v4l2_close(fd);
}

int LibV4l2Calls::ioctlDevice(int fd, unsigned long request, void* arg) {
    return v4l2_ioctl(fd, request, arg);
}

void* LibV4l2Calls::mapBuffer(int fd, std::size_t length, std::int64_t offset) {
    return v4l2_mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
}

int LibV4l2Calls::unmapBuffer(void* start, std::size_t length) {
    return v4l2_munmap(start, length);
}

} // namespace lumenvale
