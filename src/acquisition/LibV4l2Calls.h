// The V4L2 calls through libv4l2 with its conversion off: the camera's own formats and buffers.
#pragma once

#include "acquisition/V4l2Calls.h"

namespace lumenvale {

class LibV4l2Calls : public V4l2Calls {
public:
    int open(const std::string& path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    int mmap(int fd, std::size_t length, std::int64_t offset, void** start) override;
    int munmap(void* start, std::size_t length) override;
};

} // namespace lumenvale
