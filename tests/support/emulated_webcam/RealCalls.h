// The C library's own calls behind the ones this library replaces, for the emulator's own use
// and for everything that is not an emulated device.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace lumenvale::emulated {

struct RealCalls {
    long (*syscall)(long, long, long, long, long, long, long);
    int (*open)(const char*, int, ...);
    int (*open64)(const char*, int, ...);
    int (*openat)(int, const char*, int, ...);
    int (*openat64)(int, const char*, int, ...);
    int (*open_2)(const char*, int);
    int (*open64_2)(const char*, int);
    int (*close)(int);
    int (*ioctl)(int, unsigned long, ...);
    void* (*mmap)(void*, size_t, int, int, int, off_t);
    void* (*mmap64)(void*, size_t, int, int, int, off64_t);
    int (*munmap)(void*, size_t);
    ssize_t (*read)(int, void*, size_t);
    ssize_t (*write)(int, const void*, size_t);
    DIR* (*opendir)(const char*);
    DIR* (*fdopendir)(int);
    dirent* (*readdir)(DIR*);
    dirent64* (*readdir64)(DIR*);
    void (*rewinddir)(DIR*);
    int (*closedir)(DIR*);
    int (*stat)(const char*, struct stat*);
    int (*stat64)(const char*, struct stat64*);
    int (*lstat)(const char*, struct stat*);
    int (*lstat64)(const char*, struct stat64*);
    int (*fstatat)(int, const char*, struct stat*, int);
    int (*fstatat64)(int, const char*, struct stat64*, int);
    int (*statx)(int, const char*, int, unsigned int, struct statx*);
    int (*access)(const char*, int);

    // Resolved once, at the first use (which may come before this library's constructors).
    static const RealCalls& get();
};

} // namespace lumenvale::emulated
