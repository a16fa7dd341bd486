// The few kernel calls a V4L2 camera needs, behind one interface so a fake camera can stand in
// for the tests. As with the camera port's calls, each returns its result (a descriptor, or 0)
// or, on failure, minus the errno value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumenvale {

class V4l2Calls {
public:
    virtual ~V4l2Calls() = default;

    virtual int open(const std::string& path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    // A shared, readable and writable mapping of a capture buffer, into `start`.
    virtual int mmap(int fd, std::size_t length, std::int64_t offset, void** start) = 0;
    virtual int munmap(void* start, std::size_t length) = 0;
};

} // namespace lumenvale
