// The three kernel calls the camera port makes, behind one interface so a test can stand in.
#pragma once

namespace lumenvale {

// Each call returns its result (a descriptor, or 0) or, on failure, minus the errno value.
class PpdevSyscalls {
public:
    virtual ~PpdevSyscalls() = default;
    virtual int Open(const char* path, int flags) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual int Close(int fd) = 0;
};

// The calls straight to the kernel.
class KernelPpdevSyscalls : public PpdevSyscalls {
public:
    int Open(const char* path, int flags) override;
    int Ioctl(int fd, unsigned long request, void* argument) override;
    int Close(int fd) override;
};

} // namespace lumenvale
