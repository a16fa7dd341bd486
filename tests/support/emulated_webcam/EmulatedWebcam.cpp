// An emulated UVC webcam at /dev/video0, a camera port at /dev/parport0 and a USB-serial adapter
// at /dev/ttyUSB0 (its modem-line calls logged as "tty call=TIOCMBIS bits=R rts=1 dtr=1"), for
// tests of the program under the real libv4l2 and libv4lconvert. Preloaded (LD_PRELOAD), it
// replaces the C library calls that reach a device - including syscall(), which libv4l2 and
// libv4lconvert use - and leaves every other file to the C library.
//
// Settings, from the environment at load or from emucam_configure("KEY=VALUE;KEY=VALUE"), which
// takes the same keys with or without the EMUCAM_ prefix:
//   EMUCAM_FORMATS=YUYV,MJPG,GREY,BA81   formats in ENUM_FMT order (BA81 is SBGGR8; MJPEG too)
//   EMUCAM_SIZES=640x480,1280x720,320x240  sizes every format offers; the first is the default
//   EMUCAM_STREAMON_MS=250                 how long VIDIOC_STREAMON keeps its caller waiting
//   EMUCAM_FIRST_FRAME_MS=300              first frame start after VIDIOC_STREAMON returns
//   EMUCAM_FPS=10                          frames per second at first; the frame intervals
//                                          offered are 1/30, 1/15, 1/10, 1/5 s and 1/fps (no
//                                          faster than 1/10 s for an uncompressed picture
//                                          above 640x480), VIDIOC_S_PARM takes the nearest
//   EMUCAM_TIMESTAMPS=eof                  eof: end of frame, soe: start of exposure (both
//                                          monotonic), none: unknown, zero
//   EMUCAM_DAMAGE=none                     or error|short|truncated@exposure:N|frame:N - the
//                                          Nth exposure frame or Nth delivered frame gets
//                                          V4L2_BUF_FLAG_ERROR, half its bytesused, or half its
//                                          bytes (the rest zeroed)
//   EMUCAM_UNPLUG=never                    or readout:N (at the Nth readout write that ends an
//                                          exposure) or frames:N (after N delivered frames)
//   EMUCAM_REFUSE=none                     or a control's name ("Gain") or id (0x980913):
//                                          setting it (S_CTRL, S_EXT_CTRLS) fails with EIO
//   EMUCAM_LOG=                            a file that gets one line per event, appended
// A wrong setting in the environment aborts the process with a message; emucam_configure
// returns -1 for one (errno EINVAL), and while the camera streams (errno EBUSY).
//
// The camera has a UVC webcam's controls (see EmulatedControls.h), which keep their values
// across opens and closes until it is unplugged; each value set is logged ("control
// id=0x00980913 value=40"), each frame interval set too ("frame_interval fd=3 1/15").
//
// Exported: int emucam_configure(const char* settings) - the camera is unplugged and plugged in
// again with the settings, its counters at zero and its controls at their defaults;
// int emucam_counter(const char* name) - "open", "close", "streamon", "streamoff", "delivered",
// "dropped", "damaged", "port_writes", "readouts", "exposure_frames", "unplugged",
// "control_sets", "frame_interval_sets"; -1 for a name never counted;
// int emucam_control(unsigned id, long long* value) - 0 and the camera's value of the control,
// -1 (errno EINVAL) for an id it does not have.
#include "DevListings.h"
#include "EmulatedCamera.h"
#include "RealCalls.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>

using lumenvale::emulated::DevListings;
using lumenvale::emulated::EmulatedCamera;
using lumenvale::emulated::Node;
using lumenvale::emulated::RealCalls;

namespace {

const RealCalls& real() {
    return RealCalls::get();
}

EmulatedCamera& camera() {
    return EmulatedCamera::instance();
}

// The C library's way of answering: -1 and errno.
long answer(long result) {
    if (result < 0) {
        errno = int(-result);
        return -1;
    }
    return result;
}

void* mapAnswer(long result) {
    if (result < 0) {
        errno = int(-result);
        return MAP_FAILED;
    }
    return reinterpret_cast<void*>(result);
}

bool hasMode(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

DevListings& listings() {
    static DevListings* all = new DevListings(); // never destroyed: listings may run at exit
    return *all;
}

template <typename Stat> int statNode(Node node, Stat* out) {
    if (!camera().present(node)) {
        errno = ENOENT;
        return -1;
    }
    std::memset(out, 0, sizeof *out);
    out->st_mode = S_IFCHR | 0660;
    out->st_nlink = 1;
    out->st_gid = getgid();
    out->st_rdev = node == Node::Video ? makedev(81, 0)
                   : node == Node::Tty ? makedev(188, 0)
                                       : makedev(99, 0);
    out->st_blksize = 4096;
    return 0;
}

int openNode(Node node, int flags) {
    return int(answer(camera().open(node, flags)));
}

// An open of `path`: the emulated node, or the C library's open for any other file.
template <typename RealOpen> int openPath(const char* path, int flags, RealOpen&& realOpen) {
    const Node node = EmulatedCamera::nodeOf(path);
    return node != Node::None ? openNode(node, flags) : realOpen();
}

} // namespace

extern "C" {

int emucam_configure(const char* settings) {
    return int(answer(camera().configure(settings == nullptr ? "" : settings)));
}

int emucam_counter(const char* name) {
    return name == nullptr ? -1 : camera().counter(name);
}

int emucam_control(unsigned id, long long* value) {
    long long current = 0;
    const int result = camera().control(id, current);
    if (result == 0 && value != nullptr) {
        *value = current;
    }
    return int(answer(result));
}

long syscall(long number, ...) noexcept {
    va_list arguments;
    va_start(arguments, number);
    long a[6];
    for (long& argument : a) {
        argument = va_arg(arguments, long);
    }
    va_end(arguments);
    const auto path = [](long argument) { return reinterpret_cast<const char*>(argument); };
    const auto ours = [](long fd) { return camera().nodeOf(int(fd)) != Node::None; };
    switch (number) {
#ifdef SYS_open // 64-bit ARM has openat alone
    case SYS_open:
        if (const Node node = EmulatedCamera::nodeOf(path(a[0])); node != Node::None) {
            return openNode(node, int(a[1]));
        }
        break;
#endif
    case SYS_openat:
        if (const Node node = EmulatedCamera::nodeOf(path(a[1])); node != Node::None) {
            return openNode(node, int(a[2]));
        }
        break;
    case SYS_close:
        if (ours(a[0])) {
            return answer(camera().close(int(a[0])));
        }
        break;
    case SYS_ioctl:
        if (ours(a[0])) {
            return answer(camera().ioctl(int(a[0]), (unsigned long)a[1], (void*)a[2]));
        }
        break;
    case SYS_mmap:
        if (ours(a[4])) {
            return reinterpret_cast<long>(mapAnswer(camera().mmap(
                (void*)a[0], std::size_t(a[1]), int(a[2]), int(a[3]), int(a[4]), off64_t(a[5]))));
        }
        break;
    case SYS_munmap:
        camera().unmapped((void*)a[0]);
        break;
    case SYS_read:
    case SYS_write:
        if (ours(a[0])) {
            return answer(-EINVAL); // the camera has no read() I/O, the port no ECP/EPP modes
        }
        break;
    default:
        break;
    }
    return real().syscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = hasMode(flags) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    return openPath(path, flags, [&] { return real().open(path, flags, mode); });
}

int open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = hasMode(flags) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    return openPath(path, flags, [&] { return real().open64(path, flags, mode); });
}

int openat(int dir, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = hasMode(flags) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    return openPath(path, flags, [&] { return real().openat(dir, path, flags, mode); });
}

int openat64(int dir, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = hasMode(flags) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    return openPath(path, flags, [&] { return real().openat64(dir, path, flags, mode); });
}

int __open_2(const char* path, int flags) {
    return openPath(path, flags, [&] { return real().open_2(path, flags); });
}

int __open64_2(const char* path, int flags) {
    return openPath(path, flags, [&] { return real().open64_2(path, flags); });
}

int close(int fd) {
    if (camera().nodeOf(fd) != Node::None) {
        return int(answer(camera().close(fd)));
    }
    return real().close(fd);
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (camera().nodeOf(fd) != Node::None) {
        return int(answer(camera().ioctl(fd, request, argument)));
    }
    return real().ioctl(fd, request, argument);
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) noexcept {
    if (camera().nodeOf(fd) != Node::None) {
        return mapAnswer(camera().mmap(address, length, protection, flags, fd, offset));
    }
    return real().mmap(address, length, protection, flags, fd, offset);
}

void* mmap64(void* address, size_t length, int protection, int flags, int fd,
             off64_t offset) noexcept {
    if (camera().nodeOf(fd) != Node::None) {
        return mapAnswer(camera().mmap(address, length, protection, flags, fd, offset));
    }
    return real().mmap64(address, length, protection, flags, fd, offset);
}

int munmap(void* address, size_t length) noexcept {
    camera().unmapped(address);
    return real().munmap(address, length);
}

ssize_t read(int fd, void* buffer, size_t count) {
    if (camera().nodeOf(fd) != Node::None) {
        return answer(-EINVAL);
    }
    return real().read(fd, buffer, count);
}

ssize_t write(int fd, const void* buffer, size_t count) {
    if (camera().nodeOf(fd) != Node::None) {
        return answer(-EINVAL);
    }
    return real().write(fd, buffer, count);
}

DIR* opendir(const char* path) {
    DIR* dir = real().opendir(path);
    listings().track(dir);
    return dir;
}

DIR* fdopendir(int fd) {
    DIR* dir = real().fdopendir(fd);
    listings().track(dir);
    return dir;
}

struct dirent* readdir(DIR* dir) {
    return listings().next(dir, real().readdir);
}

struct dirent64* readdir64(DIR* dir) {
    return listings().next(dir, real().readdir64);
}

void rewinddir(DIR* dir) {
    listings().rewind(dir);
    real().rewinddir(dir);
}

int closedir(DIR* dir) {
    listings().forget(dir);
    return real().closedir(dir);
}

int stat(const char* path, struct stat* out) noexcept {
    const Node node = EmulatedCamera::nodeOf(path);
    return node != Node::None ? statNode(node, out) : real().stat(path, out);
}

int stat64(const char* path, struct stat64* out) noexcept {
    const Node node = EmulatedCamera::nodeOf(path);
    return node != Node::None ? statNode(node, out) : real().stat64(path, out);
}

int lstat(const char* path, struct stat* out) noexcept {
    const Node node = EmulatedCamera::nodeOf(path);
    return node != Node::None ? statNode(node, out) : real().lstat(path, out);
}

int lstat64(const char* path, struct stat64* out) noexcept {
    const Node node = EmulatedCamera::nodeOf(path);
    return node != Node::None ? statNode(node, out) : real().lstat64(path, out);
}

int fstatat(int dir, const char* path, struct stat* out, int flags) noexcept {
    const Node node = EmulatedCamera::nodeOf(path);
    return node != Node::None ? statNode(node, out) : real().fstatat(dir, path, out, flags);
}

int fstatat64(int dir, const char* path, struct stat64* out, int flags) noexcept {
    const Node node = EmulatedCamera::nodeOf(path);
    return node != Node::None ? statNode(node, out) : real().fstatat64(dir, path, out, flags);
}

int statx(int dir, const char* path, int flags, unsigned int mask, struct statx* out) noexcept {
    const Node node = EmulatedCamera::nodeOf(path);
    if (node == Node::None) {
        return real().statx(dir, path, flags, mask, out);
    }
    struct stat plain {};
    if (statNode(node, &plain) != 0) {
        return -1;
    }
    std::memset(out, 0, sizeof *out);
    out->stx_mask = STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_UID | STATX_GID;
    out->stx_mode = std::uint16_t(plain.st_mode);
    out->stx_nlink = 1;
    out->stx_gid = plain.st_gid;
    out->stx_blksize = 4096;
    out->stx_rdev_major = major(plain.st_rdev);
    out->stx_rdev_minor = minor(plain.st_rdev);
    return 0;
}

int access(const char* path, int how) noexcept {
    const Node node = EmulatedCamera::nodeOf(path);
    if (node == Node::None) {
        return real().access(path, how);
    }
    if (!camera().present(node)) {
        errno = ENOENT;
        return -1;
    }
    return 0;
}

} // extern "C"
