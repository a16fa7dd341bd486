// Resolving the C library's calls behind this library's.
#include "RealCalls.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace lumenvale::emulated {

namespace {

template <typename Function> void resolve(Function& slot, const char* name) {
    slot = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
    if (slot == nullptr) {
        std::fprintf(stderr, "emulated webcam: no %s behind it\n", name);
        std::abort();
    }
}

RealCalls load() {
    RealCalls calls{};
    resolve(calls.syscall, "syscall");
    resolve(calls.open, "open");
    resolve(calls.open64, "open64");
    resolve(calls.openat, "openat");
    resolve(calls.openat64, "openat64");
    resolve(calls.open_2, "__open_2");
    resolve(calls.open64_2, "__open64_2");
    resolve(calls.close, "close");
    resolve(calls.ioctl, "ioctl");
    resolve(calls.mmap, "mmap");
    resolve(calls.mmap64, "mmap64");
    resolve(calls.munmap, "munmap");
    resolve(calls.read, "read");
    resolve(calls.write, "write");
    resolve(calls.opendir, "opendir");
    resolve(calls.fdopendir, "fdopendir");
    resolve(calls.readdir, "readdir");
    resolve(calls.readdir64, "readdir64");
    resolve(calls.rewinddir, "rewinddir");
    resolve(calls.closedir, "closedir");
    resolve(calls.stat, "stat");
    resolve(calls.stat64, "stat64");
    resolve(calls.lstat, "lstat");
    resolve(calls.lstat64, "lstat64");
    resolve(calls.fstatat, "fstatat");
    resolve(calls.fstatat64, "fstatat64");
    resolve(calls.statx, "statx");
    resolve(calls.access, "access");
    return calls;
}

} // namespace

const RealCalls& RealCalls::get() {
    static const RealCalls calls = load();
    return calls;
}

} // namespace lumenvale::emulated
