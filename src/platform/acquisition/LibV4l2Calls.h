// The V4L2 calls through libv4l2 with its conversion off: the camera's own formats and buffers.
#pragma once

#include "platform/acquisition/V4l2Calls.h"

namespace lumenvale {

class LibV4l2Calls : public V4l2Calls {
public:
    int openDevice(const std::string& path, int flags) override;
    int closeDevice(int fd) override;
    int ioctlDevice(int fd, unsigned long request, void* arg) override;
    void* mapBuffer(int fd, std::size_t length, std::int64_t offset) override;
    int unmapBuffer(void* start, std::size_t length) override;
};

} // namespace lumenvale
