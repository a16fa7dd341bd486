// The few kernel calls a V4L2 camera needs, behind one interface so a fake camera can stand in
// for the tests. Each behaves like the system call it stands for: -1 (or MAP_FAILED) and errno
// set on failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumenvale {

class V4l2Calls {
public:
    virtual ~V4l2Calls() = default;

    virtual int openDevice(const std::string& path, int flags) = 0;
    virtual int closeDevice(int fd) = 0;
    virtual int ioctlDevice(int fd, unsigned long request, void* arg) = 0;
    // A shared, readable and writable mapping of a capture buffer.
    virtual void* mapBuffer(int fd, std::size_t length, std::int64_t offset) = 0;
    virtual int unmapBuffer(void* start, std::size_t length) = 0;
};

} // namespace lumenvale
