// The three kernel calls the camera port makes, behind one interface so a test can stand in.
#pragma once

namespace lumenvale {

// Each call returns its result (a descriptor, or 0) or, on failure, minus the errno value.
class PpdevSyscalls {
public:
    virtual ~PpdevSyscalls() = default;
    virtual int open(const char* path, int flags) = 0;
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual int close(int fd) = 0;
    // Whether a device node is there: a USB adapter pulled out takes its node with it, while
    // its calls fail with whatever error the driver gives.
    virtual bool exists(const char* path) = 0;
};

// The calls straight to the kernel.
class KernelPpdevSyscalls : public PpdevSyscalls {
public:
    int open(const char* path, int flags) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    int close(int fd) override;
    bool exists(const char* path) override;
};

} // namespace lumenvale
