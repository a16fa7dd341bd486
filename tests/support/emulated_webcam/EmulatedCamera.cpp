// The emulated webcam's device state, its ioctls and its frame clock.
#include "EmulatedCamera.h"

#include "RealCalls.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

namespace lumenvale::emulated {

namespace {

const char* NodeName(Node node) {
    switch (node) {
    case Node::Video:
        return "video0";
    case Node::Tty:
        return "ttyUSB0";
    default:
        return "parport0";
    }
}

constexpr std::uint32_t MaxBuffers = 32;
constexpr std::uint32_t Capabilities =
    V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;

const char* damageName(DamageKind kind) {
    switch (kind) {
    case DamageKind::ErrorFlag:
        return "error";
    case DamageKind::Short:
        return "short";
    case DamageKind::Truncated:
        return "truncated";
    default:
        return "none";
    }
}

std::uint32_t timestampFlags(Timestamps timestamps) {
    switch (timestamps) {
    case Timestamps::EndOfFrame:
        return V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_EOF;
    case Timestamps::StartOfExposure:
        return V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_SOE;
    default:
        return V4L2_BUF_FLAG_TIMESTAMP_UNKNOWN;
    }
}

std::chrono::steady_clock::time_point steadyAt(std::int64_t us) {
    // steady_clock is CLOCK_MONOTONIC on Linux, the clock of monotonicUs().
    return std::chrono::steady_clock::time_point(std::chrono::microseconds(us));
}

void sleepUntil(std::int64_t us) {
    const timespec until{time_t(us / 1000000), long(us % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

EmulatorSettings settingsFromEnvironment() {
    EmulatorSettings settings;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view item = *entry;
        if (item.substr(0, 7) != "EMUCAM_") {
            continue;
        }
        const std::size_t equals = item.find('=');
        if (auto problem = settings.apply(item.substr(0, equals), item.substr(equals + 1))) {
            std::fprintf(stderr, "emulated webcam: %s\n", problem->c_str());
            std::abort();
        }
    }
    return settings;
}

} // namespace

EmulatedCamera& EmulatedCamera::instance() {
    static EmulatedCamera* camera = new EmulatedCamera();
    return *camera;
}

EmulatedCamera::EmulatedCamera() {
    const EmulatorSettings settings = settingsFromEnvironment();
    openLog(settings.logPath);
    reset(settings);
}

void EmulatedCamera::openLog(const std::string& path) {
    if (!log_.open(path)) {
        std::fprintf(stderr, "emulated webcam: cannot write the log %s\n", path.c_str());
    }
}

void EmulatedCamera::reset(const EmulatorSettings& settings) {
    settings_ = settings;
    mode_ = modes_.defaultMode();
    interval_ = {1, std::uint32_t(settings.fps)};
    controls_ = EmulatedControls(settings.refusedControl);
    plugged_ = true;
    lines_ = ExposureLines();
    painter_ = FramePainter();
    counters_.clear();
    for (const char* name : {"open", "close", "streamon", "streamoff", "delivered", "dropped",
                             "damaged", "port_writes", "readouts", "exposure_frames", "unplugged",
                             "control_sets", "frame_interval_sets"}) {
        counters_[name] = 0;
    }
    delivered_ = 0;
    exposureFrames_ = 0;
    exposureReadouts_ = 0;
}

Node EmulatedCamera::nodeOf(const char* path) {
    if (path == nullptr || std::strstr(path, "dev") == nullptr) {
        return Node::None;
    }
    const std::string normal = std::filesystem::path(path).lexically_normal().string();
    if (normal == "/dev/video0") {
        return Node::Video;
    }
    if (normal == "/dev/parport0") {
        return Node::Port;
    }
    if (normal == "/dev/ttyUSB0") {
        return Node::Tty;
    }
    return Node::None;
}

Node EmulatedCamera::nodeOf(int fd) const {
    return fd >= 0 && fd < MaxFd ? nodes_[std::size_t(fd)].load() : Node::None;
}

bool EmulatedCamera::present(Node node) {
    const std::lock_guard lock(mutex_);
    return node == Node::Port || node == Node::Tty || (node == Node::Video && plugged_);
}

void EmulatedCamera::count(const char* name) {
    ++counters_[name];
}

int EmulatedCamera::control(std::uint32_t id, long long& value) {
    const std::lock_guard lock(mutex_);
    const std::optional<std::int32_t> current = controls_.value(id);
    if (!current) {
        return -EINVAL;
    }
    value = *current;
    return 0;
}

int EmulatedCamera::counter(const std::string& name) {
    const std::lock_guard lock(mutex_);
    const auto found = counters_.find(name);
    return found == counters_.end() ? -1 : found->second;
}

int EmulatedCamera::open(Node node, int flags) {
    const std::lock_guard lock(mutex_);
    const char* name = NodeName(node);
    if (node == Node::Video && !plugged_) {
        log_.line("open node=%s error=ENOENT", name);
        return -ENOENT;
    }
    int eventFlags = 0;
    eventFlags |= (flags & O_NONBLOCK) != 0 ? EFD_NONBLOCK : 0;
    eventFlags |= (flags & O_CLOEXEC) != 0 ? EFD_CLOEXEC : 0;
    const int fd = eventfd(0, eventFlags);
    if (fd < 0) {
        return -errno;
    }
    if (fd >= MaxFd) {
        RealCalls::get().close(fd);
        return -EMFILE;
    }
    nodes_[std::size_t(fd)] = node;
    if (node == Node::Video) {
        videoFiles_[fd] = VideoFile{};
        count("open");
    }
    if (node == Node::Tty) {
        // Opening a tty raises RTS and DTR, as the kernel's serial drivers do.
        modemLines_ |= TIOCM_RTS | TIOCM_DTR;
    }
    log_.line("open node=%s fd=%d%s", name, fd, (flags & O_NONBLOCK) != 0 ? " nonblock" : "");
    return fd;
}

int EmulatedCamera::close(int fd) {
    {
        const std::lock_guard lock(mutex_);
        const Node node = nodeOf(fd);
        if (node == Node::Video) {
            if (fd == owner_) {
                // The driver's release: the stream stops and the buffers go; the caller's
                // mappings keep their pages.
                streamOff("close");
                freeBuffers();
            }
            videoFiles_.erase(fd);
            count("close");
        }
        nodes_[std::size_t(fd)] = Node::None;
        log_.line("close node=%s fd=%d", NodeName(node), fd);
    }
    return RealCalls::get().close(fd) == 0 ? 0 : -errno;
}

int EmulatedCamera::ioctl(int fd, unsigned long request, void* arg) {
    std::unique_lock lock(mutex_);
    // As the kernel does, the upper half of a 64-bit request is ignored.
    request = static_cast<unsigned int>(request);
    if (arg == nullptr && _IOC_SIZE(request) != 0) {
        return -EFAULT;
    }
    if (nodeOf(fd) == Node::Port) {
        return portIoctl(request, arg);
    }
    if (nodeOf(fd) == Node::Tty) {
        return ttyIoctl(request, arg);
    }
    const auto file = videoFiles_.find(fd);
    if (file == videoFiles_.end()) {
        return -EBADF;
    }
    if (file->second.gone) {
        return -ENODEV;
    }
    return videoIoctl(fd, request, arg, lock);
}

int EmulatedCamera::portIoctl(unsigned long request, void* arg) {
    switch (request) {
    case PPWDATA:
        portWrite(*static_cast<unsigned char*>(arg));
        return 0;
    case PPRSTATUS:
    case PPRCONTROL:
    case PPRDATA:
        *static_cast<unsigned char*>(arg) = 0;
        return 0;
    case PPGETMODE:
    case PPGETPHASE:
    case PPGETMODES:
    case PPGETFLAGS:
        *static_cast<int*>(arg) = 0;
        return 0;
    default:
        // PPCLAIM, PPEXCL, PPRELEASE and the other ppdev requests have nothing to do here.
        return _IOC_TYPE(request) == PP_IOCTL ? 0 : -ENOTTY;
    }
}

int EmulatedCamera::ttyIoctl(unsigned long request, void* arg) {
    switch (request) {
    case TIOCMGET:
        *static_cast<int*>(arg) = modemLines_;
        return 0;
    case TIOCMBIS:
    case TIOCMBIC: {
        const int bits = *static_cast<int*>(arg);
        modemLines_ = request == TIOCMBIS ? (modemLines_ | bits) : (modemLines_ & ~bits);
        log_.line("tty call=%s bits=%s%s rts=%d dtr=%d us=%lld",
                  request == TIOCMBIS ? "TIOCMBIS" : "TIOCMBIC", (bits & TIOCM_RTS) != 0 ? "R" : "",
                  (bits & TIOCM_DTR) != 0 ? "D" : "", (modemLines_ & TIOCM_RTS) != 0 ? 1 : 0,
                  (modemLines_ & TIOCM_DTR) != 0 ? 1 : 0, static_cast<long long>(monotonicUs()));
        return 0;
    }
    case TIOCSBRK:
    case TIOCCBRK:
        log_.line("tty call=%s us=%lld", request == TIOCSBRK ? "TIOCSBRK" : "TIOCCBRK",
                  static_cast<long long>(monotonicUs()));
        return 0;
    case TCGETS:
        // The kernel's struct termios: 4 flag words, the line discipline and 19 control chars.
        std::memset(arg, 0, 36);
        return 0;
    case TCSETS:
        return 0;
    default:
        return -ENOTTY;
    }
}

int EmulatedCamera::videoIoctl(int fd, unsigned long request, void* arg,
                               std::unique_lock<std::mutex>& lock) {
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto& cap = *static_cast<v4l2_capability*>(arg);
        std::memset(&cap, 0, sizeof cap);
        std::strncpy(reinterpret_cast<char*>(cap.driver), "uvcvideo", sizeof cap.driver - 1);
        std::strncpy(reinterpret_cast<char*>(cap.card), "Emulated Webcam", sizeof cap.card - 1);
        std::strncpy(reinterpret_cast<char*>(cap.bus_info), "usb-0000:00:14.0-1",
                     sizeof cap.bus_info - 1);
        cap.version = (6U << 16) | (1U << 8);
        cap.device_caps = Capabilities;
        cap.capabilities = Capabilities | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUM_FMT:
        return modes_.enumFormat(*static_cast<v4l2_fmtdesc*>(arg));
    case VIDIOC_ENUM_FRAMESIZES:
        return modes_.enumFrameSize(*static_cast<v4l2_frmsizeenum*>(arg));
    case VIDIOC_ENUM_FRAMEINTERVALS:
        return modes_.enumFrameInterval(*static_cast<v4l2_frmivalenum*>(arg));
    case VIDIOC_G_FMT: {
        auto& format = *static_cast<v4l2_format*>(arg);
        if (format.type != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
            return -EINVAL;
        }
        CameraModes::describe(mode_, format.fmt.pix);
        return 0;
    }
    case VIDIOC_TRY_FMT:
        return modes_.tryFormat(*static_cast<v4l2_format*>(arg));
    case VIDIOC_S_FMT: {
        auto& format = *static_cast<v4l2_format*>(arg);
        if (const int result = modes_.tryFormat(format); result != 0) {
            return result;
        }
        if (!buffers_.empty()) {
            return -EBUSY;
        }
        mode_ = {format.fmt.pix.pixelformat, format.fmt.pix.width, format.fmt.pix.height};
        // The interval kept, as near as the new mode allows.
        interval_ = modes_.nearestInterval(mode_, interval_);
        return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
        auto& parm = *static_cast<v4l2_streamparm*>(arg);
        if (parm.type != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
            return -EINVAL;
        }
        if (request == VIDIOC_S_PARM) {
            // The UVC driver negotiates the interval with the camera, which it cannot while
            // streaming; it takes the nearest the mode offers.
            if (stream_ != Stream::Off) {
                return -EBUSY;
            }
            interval_ = modes_.nearestInterval(mode_, parm.parm.capture.timeperframe);
            count("frame_interval_sets");
            log_.line("frame_interval fd=%d %u/%u", fd, interval_.numerator, interval_.denominator);
        }
        std::memset(&parm.parm, 0, sizeof parm.parm);
        parm.parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
        parm.parm.capture.timeperframe = interval_;
        return 0;
    }
    case VIDIOC_ENUMINPUT: {
        auto& input = *static_cast<v4l2_input*>(arg);
        if (input.index != 0) {
            return -EINVAL;
        }
        std::memset(&input, 0, sizeof input);
        std::strncpy(reinterpret_cast<char*>(input.name), "Camera 1", sizeof input.name - 1);
        input.type = V4L2_INPUT_TYPE_CAMERA;
        return 0;
    }
    case VIDIOC_G_INPUT:
        *static_cast<int*>(arg) = 0;
        return 0;
    case VIDIOC_S_INPUT:
        return *static_cast<int*>(arg) == 0 ? 0 : -EINVAL;
    case VIDIOC_REQBUFS:
        return requestBuffers(fd, *static_cast<v4l2_requestbuffers*>(arg));
    case VIDIOC_QUERYBUF:
        return queryBuffer(*static_cast<v4l2_buffer*>(arg));
    case VIDIOC_QBUF:
        return queueBuffer(fd, *static_cast<v4l2_buffer*>(arg));
    case VIDIOC_DQBUF:
        return dequeueBuffer(fd, *static_cast<v4l2_buffer*>(arg), lock);
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF:
        if (*static_cast<int*>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
            return -EINVAL;
        }
        if (owner_ != fd) {
            return owner_ < 0 ? -EINVAL : -EBUSY;
        }
        if (request == VIDIOC_STREAMON) {
            return streamOn(fd, lock);
        }
        streamOff("ioctl");
        return 0;
    case VIDIOC_QUERYCTRL:
    case VIDIOC_QUERY_EXT_CTRL:
    case VIDIOC_QUERYMENU:
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL:
    case VIDIOC_G_EXT_CTRLS:
    case VIDIOC_S_EXT_CTRLS:
    case VIDIOC_TRY_EXT_CTRLS: {
        std::vector<ControlChange> changes;
        const int result = controls_.ioctl(request, arg, changes);
        for (const ControlChange& change : changes) {
            count("control_sets");
            log_.line("control id=0x%08x value=%d", change.id, change.value);
        }
        return result;
    }
    default:
        if (!unhandled_[request]) {
            unhandled_[request] = true;
            log_.line("ioctl fd=%d request=0x%08lx unhandled", fd, request);
        }
        return -ENOTTY;
    }
}

int EmulatedCamera::requestBuffers(int fd, v4l2_requestbuffers& request) {
    if (request.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || request.memory != V4L2_MEMORY_MMAP) {
        return -EINVAL;
    }
    if (owner_ >= 0 && owner_ != fd) {
        return -EBUSY;
    }
    if (stream_ != Stream::Off || !mappings_.empty()) {
        return -EBUSY;
    }
    freeBuffers();
    std::memset(request.reserved, 0, sizeof request.reserved);
    request.capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
    if (request.count == 0) {
        return 0;
    }
    request.count = std::min(request.count, MaxBuffers);
    const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
    const std::size_t length = FramePainter::sizeImage(mode_);
    stride_ = (length + page - 1) / page * page;
    memoryFd_ = memfd_create("emulated-webcam", MFD_CLOEXEC);
    if (memoryFd_ < 0 || ftruncate(memoryFd_, off_t(stride_ * request.count)) != 0) {
        return -ENOMEM;
    }
    void* memory = RealCalls::get().mmap(nullptr, stride_ * request.count, PROT_READ | PROT_WRITE,
                                         MAP_SHARED, memoryFd_, 0);
    if (memory == MAP_FAILED) {
        return -ENOMEM;
    }
    memory_ = static_cast<std::uint8_t*>(memory);
    buffers_.resize(request.count);
    for (std::uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer& info = buffers_[i].info;
        info.index = i;
        info.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        info.memory = V4L2_MEMORY_MMAP;
        info.field = V4L2_FIELD_NONE;
        info.m.offset = std::uint32_t(stride_ * i);
        info.length = std::uint32_t(length);
        info.flags = timestampFlags(settings_.timestamps);
    }
    owner_ = fd;
    return 0;
}

void EmulatedCamera::freeBuffers() {
    if (memory_ != nullptr) {
        RealCalls::get().munmap(memory_, stride_ * buffers_.size());
        memory_ = nullptr;
    }
    if (memoryFd_ >= 0) {
        RealCalls::get().close(memoryFd_);
        memoryFd_ = -1;
    }
    buffers_.clear();
    queued_.clear();
    done_.clear();
    mappings_.clear();
    owner_ = -1;
    updateReadable();
}

int EmulatedCamera::queryBuffer(v4l2_buffer& buffer) {
    if (buffer.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buffer.index >= buffers_.size()) {
        return -EINVAL;
    }
    const Buffer& ours = buffers_[buffer.index];
    buffer = ours.info;
    buffer.flags &= ~(V4L2_BUF_FLAG_QUEUED | V4L2_BUF_FLAG_DONE | V4L2_BUF_FLAG_MAPPED);
    buffer.flags |= ours.queued ? V4L2_BUF_FLAG_QUEUED : 0;
    buffer.flags |= ours.done ? V4L2_BUF_FLAG_DONE : 0;
    const bool mapped = std::any_of(mappings_.begin(), mappings_.end(),
                                    [&](const auto& m) { return m.second == buffer.index; });
    buffer.flags |= mapped ? V4L2_BUF_FLAG_MAPPED : 0;
    return 0;
}

int EmulatedCamera::queueBuffer(int fd, v4l2_buffer& buffer) {
    if (owner_ != fd) {
        return owner_ < 0 ? -EINVAL : -EBUSY;
    }
    if (buffer.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buffer.memory != V4L2_MEMORY_MMAP ||
        buffer.index >= buffers_.size()) {
        return -EINVAL;
    }
    Buffer& ours = buffers_[buffer.index];
    if (ours.queued || ours.done) {
        return -EINVAL;
    }
    ours.queued = true;
    queued_.push_back(buffer.index);
    queryBuffer(buffer);
    return 0;
}

int EmulatedCamera::dequeueBuffer(int fd, v4l2_buffer& buffer, std::unique_lock<std::mutex>& lock) {
    if (owner_ != fd) {
        return owner_ < 0 ? -EINVAL : -EBUSY;
    }
    if (buffer.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buffer.memory != V4L2_MEMORY_MMAP) {
        return -EINVAL;
    }
    for (;;) {
        const auto file = videoFiles_.find(fd);
        if (file == videoFiles_.end() || file->second.gone) {
            return -ENODEV;
        }
        if (!done_.empty()) {
            break;
        }
        if (stream_ == Stream::Off) {
            return -EINVAL;
        }
        if ((fcntl(fd, F_GETFL) & O_NONBLOCK) != 0) {
            return -EAGAIN;
        }
        changed_.wait(lock);
    }
    const std::uint32_t index = done_.front();
    done_.pop_front();
    buffers_[index].done = false;
    updateReadable();
    buffer.index = index;
    return queryBuffer(buffer);
}

int EmulatedCamera::streamOn(int fd, std::unique_lock<std::mutex>& lock) {
    if (stream_ != Stream::Off) {
        return 0;
    }
    if (!producerStarted_) {
        // Started at the first stream, not at load: a process that forks before it has no
        // thread of ours to lose.
        producerStarted_ = true;
        std::thread([this] {
            std::unique_lock producerLock(mutex_);
            produceFrames(producerLock);
        }).detach();
    }
    stream_ = Stream::Starting;
    count("streamon");
    log_.line("streamon fd=%d call", fd);
    // A UVC camera negotiates and starts its sensor inside STREAMON: the caller waits.
    const std::int64_t until = monotonicUs() + std::int64_t(settings_.streamOnMs) * 1000;
    lock.unlock();
    sleepUntil(until);
    lock.lock();
    const auto file = videoFiles_.find(fd);
    if (file == videoFiles_.end() || file->second.gone) {
        return -ENODEV;
    }
    if (stream_ != Stream::Starting) {
        return 0; // stopped meanwhile from another thread
    }
    stream_ = Stream::On;
    firstStartUs_ = monotonicUs() + std::int64_t(settings_.firstFrameMs) * 1000;
    nextFrame_ = 0;
    log_.line("streamon fd=%d return first_start=%lld", fd, static_cast<long long>(firstStartUs_));
    changed_.notify_all();
    return 0;
}

void EmulatedCamera::streamOff(const char* by) {
    if (stream_ == Stream::Off) {
        return;
    }
    stream_ = Stream::Off;
    for (Buffer& buffer : buffers_) {
        buffer.queued = false;
        buffer.done = false;
    }
    queued_.clear();
    done_.clear();
    // With the stream off the sensor is not read: an exposure ended now is lost.
    readouts_.clear();
    count("streamoff");
    log_.line("streamoff by=%s", by);
    updateReadable();
    changed_.notify_all();
}

long EmulatedCamera::mmap(void* address, std::size_t length, int protection, int flags, int fd,
                          off64_t offset) {
    const std::lock_guard lock(mutex_);
    const auto file = videoFiles_.find(fd);
    if (file == videoFiles_.end()) {
        return -ENODEV; // the port cannot be mapped
    }
    if (file->second.gone) {
        return -ENODEV;
    }
    if ((flags & MAP_SHARED) == 0 || stride_ == 0 || offset < 0 ||
        std::size_t(offset) % stride_ != 0 || std::size_t(offset) / stride_ >= buffers_.size() ||
        length == 0 || length > stride_) {
        return -EINVAL;
    }
    void* mapped =
        RealCalls::get().mmap(address, length, protection, flags, memoryFd_, off_t(offset));
    if (mapped == MAP_FAILED) {
        return -errno;
    }
    mappings_[mapped] = std::uint32_t(std::size_t(offset) / stride_);
    return reinterpret_cast<long>(mapped);
}

void EmulatedCamera::unmapped(void* address) {
    const std::lock_guard lock(mutex_);
    mappings_.erase(address);
}

void EmulatedCamera::portWrite(std::uint8_t value) {
    const std::int64_t now = monotonicUs();
    count("port_writes");
    log_.line("port value=0x%02x us=%lld", value, static_cast<long long>(now));
    const std::optional<ReadoutExposure> exposure = lines_.write(value, now);
    if (!exposure) {
        return;
    }
    ++exposureReadouts_;
    count("readouts");
    log_.line("readout kind=%s write_us=%lld length_us=%lld level=%d rows=%s%s", exposure->kind,
              static_cast<long long>(exposure->writeUs), static_cast<long long>(exposure->lengthUs),
              exposure->level, exposure->rows == ExposedRows::Even ? "even" : "odd",
              stream_ == Stream::Off ? " lost" : "");
    if (stream_ != Stream::Off) {
        readouts_.push_back(*exposure);
    }
    if (settings_.unplug.at == UnplugAt::Readout && exposureReadouts_ == settings_.unplug.n) {
        unplug("readout");
    }
}

void EmulatedCamera::unplug(const char* by) {
    plugged_ = false;
    stream_ = Stream::Off;
    queued_.clear();
    done_.clear();
    readouts_.clear();
    for (auto& [fd, file] : videoFiles_) {
        file.gone = true;
    }
    count("unplugged");
    log_.line("unplug by=%s", by);
    updateReadable();
    changed_.notify_all();
}

void EmulatedCamera::updateReadable() {
    for (auto& [fd, file] : videoFiles_) {
        // A file whose camera is gone turns readable, so a program waiting on it notices.
        const bool readable = file.gone || (fd == owner_ && !done_.empty());
        if (readable == file.readable) {
            continue;
        }
        std::uint64_t one = 1;
        if (readable) {
            RealCalls::get().write(fd, &one, sizeof one);
        } else {
            RealCalls::get().read(fd, &one, sizeof one);
        }
        file.readable = readable;
    }
}

std::int64_t EmulatedCamera::framePeriodUs() const {
    return std::int64_t(interval_.numerator) * 1000000 / interval_.denominator;
}

std::int64_t EmulatedCamera::frameStartUs(std::uint32_t index) const {
    return firstStartUs_ + std::int64_t(index) * framePeriodUs();
}

void EmulatedCamera::produceFrames(std::unique_lock<std::mutex>& lock) {
    for (;;) {
        if (stream_ != Stream::On) {
            changed_.wait(lock);
            continue;
        }
        // A frame is complete at the start of the next; a late wake-up makes up every frame
        // that has ended meanwhile, in order.
        const std::int64_t end = frameStartUs(nextFrame_ + 1);
        if (monotonicUs() < end) {
            changed_.wait_until(lock, steadyAt(end));
            continue;
        }
        produce(nextFrame_++);
    }
}

void EmulatedCamera::produce(std::uint32_t index) {
    const std::int64_t start = frameStartUs(index);
    const std::int64_t end = frameStartUs(index + 1);
    int even = DarkLevel;
    int odd = DarkLevel;
    bool exposure = false;
    // The frame that starts first at or after a readout write carries that exposure.
    while (!readouts_.empty() && readouts_.front().writeUs <= start) {
        const ReadoutExposure& readout = readouts_.front();
        int& rows = readout.rows == ExposedRows::Even ? even : odd;
        rows = std::max(rows, readout.level);
        exposure = true;
        readouts_.pop_front();
    }
    if (exposure) {
        ++exposureFrames_;
        count("exposure_frames");
    }
    if (settings_.unplug.at == UnplugAt::Frames && delivered_ == settings_.unplug.n) {
        unplug("frames");
        return;
    }
    char what[160];
    std::snprintf(what, sizeof what, "frame seq=%u start=%lld end=%lld exposure=%s even=%d odd=%d",
                  index, static_cast<long long>(start), static_cast<long long>(end),
                  exposure ? "yes" : "no", even, odd);
    if (queued_.empty()) {
        count("dropped");
        log_.line("%s dropped", what);
        return;
    }
    const std::uint32_t slot = queued_.front();
    queued_.pop_front();
    Buffer& buffer = buffers_[slot];
    std::uint8_t* data = memory_ + stride_ * slot;
    const std::size_t bytes = painter_.paint(mode_, even, odd, data);
    ++delivered_;
    const Damage& damage = settings_.damage;
    const bool damaged =
        damage.kind != DamageKind::None &&
        (damage.counted == FrameCount::Exposure ? exposure && exposureFrames_ == damage.n
                                                : delivered_ == damage.n);
    v4l2_buffer& info = buffer.info;
    info.bytesused = std::uint32_t(bytes);
    info.flags = timestampFlags(settings_.timestamps);
    info.sequence = index;
    const std::int64_t stamp = settings_.timestamps == Timestamps::EndOfFrame        ? end
                               : settings_.timestamps == Timestamps::StartOfExposure ? start
                                                                                     : 0;
    info.timestamp = {time_t(stamp / 1000000), suseconds_t(stamp % 1000000)};
    if (damaged) {
        count("damaged");
        if (damage.kind == DamageKind::ErrorFlag) {
            info.flags |= V4L2_BUF_FLAG_ERROR;
        } else {
            // Lost packets: only the first half of the frame arrived.
            info.bytesused = std::uint32_t(bytes / 2);
            if (damage.kind == DamageKind::Truncated) {
                std::memset(data + bytes / 2, 0, bytes - bytes / 2);
            }
        }
    }
    buffer.queued = false;
    buffer.done = true;
    done_.push_back(slot);
    count("delivered");
    log_.line("%s delivered index=%u bytes=%u damage=%s", what, slot, info.bytesused,
              damaged ? damageName(damage.kind) : "none");
    updateReadable();
    changed_.notify_all();
}

int EmulatedCamera::configure(const std::string& text) {
    EmulatorSettings settings;
    settings.logPath = settings_.logPath;
    if (auto problem = EmulatorSettings::parse(text, settings)) {
        std::fprintf(stderr, "emulated webcam: %s\n", problem->c_str());
        return -EINVAL;
    }
    const std::lock_guard lock(mutex_);
    if (stream_ != Stream::Off) {
        return -EBUSY;
    }
    // Unplugged, then plugged in again with the new settings: files opened before see a
    // camera that is gone.
    unplug("configure");
    freeBuffers();
    if (settings.logPath != settings_.logPath) {
        openLog(settings.logPath);
    }
    reset(settings);
    log_.line("configure %s", text.c_str());
    return 0;
}

} // namespace lumenvale::emulated
