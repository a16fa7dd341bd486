// The emulated webcam and camera port behind the replaced C library calls: one UVC-like camera
// on its own clock, whose frames carry the exposures the camera lines end, one parallel port
// that records the line writes, and one USB-serial adapter (/dev/ttyUSB0) that records its
// modem-line and break calls. Each open file is a real eventfd, readable while a filled buffer
// waits, so poll and select work on it unchanged.
#pragma once

#include "CameraModes.h"
#include "EmulatedControls.h"
#include "EmulatorSettings.h"
#include "EventLog.h"
#include "ExposureLines.h"
#include "FramePainter.h"

#include <linux/videodev2.h>
#include <sys/types.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lumenvale::emulated {

enum class Node { None, Video, Port, Tty };

class EmulatedCamera {
public:
    // The one camera of the process, made at the first call and never destroyed: hooks may
    // run during exit, after static destructors.
    static EmulatedCamera& instance();

    static Node nodeOf(const char* path);
    // Whether `fd` is an emulated device; safe to ask from any call without locking.
    Node nodeOf(int fd) const;
    // Whether the node is in /dev now (the camera may be unplugged).
    bool present(Node node);

    // All return the result or -errno.
    int open(Node node, int flags);
    int close(int fd);
    int ioctl(int fd, unsigned long request, void* arg);
    long mmap(void* address, std::size_t length, int protection, int flags, int fd, off64_t offset);
    // Notes an munmap of the caller's (the real one is left to the caller).
    void unmapped(void* address);

    int configure(const std::string& settings);
    int counter(const std::string& name);
    // The camera's value of a control: 0, or -EINVAL for an id it does not have.
    int control(std::uint32_t id, long long& value);

private:
    EmulatedCamera();

    struct VideoFile {
        bool gone = false; // unplugged, or the camera was reconfigured since it was opened
        bool readable = false;
    };
    struct Buffer {
        v4l2_buffer info{};
        bool queued = false;
        bool done = false;
    };
    enum class Stream { Off, Starting, On };

    int videoIoctl(int fd, unsigned long request, void* arg, std::unique_lock<std::mutex>& lock);
    int portIoctl(unsigned long request, void* arg);
    int ttyIoctl(unsigned long request, void* arg);
    int requestBuffers(int fd, v4l2_requestbuffers& request);
    int queryBuffer(v4l2_buffer& buffer);
    int queueBuffer(int fd, v4l2_buffer& buffer);
    int dequeueBuffer(int fd, v4l2_buffer& buffer, std::unique_lock<std::mutex>& lock);
    int streamOn(int fd, std::unique_lock<std::mutex>& lock);
    void streamOff(const char* by);
    void freeBuffers();
    void portWrite(std::uint8_t value);
    void unplug(const char* by);
    void updateReadable();
    void produceFrames(std::unique_lock<std::mutex>& lock);
    void produce(std::uint32_t index);
    std::int64_t frameStartUs(std::uint32_t index) const;
    std::int64_t framePeriodUs() const;
    void count(const char* name);
    void reset(const EmulatorSettings& settings);
    void openLog(const std::string& path);

    static constexpr int MaxFd = 65536;
    std::array<std::atomic<Node>, MaxFd> nodes_{};

    std::mutex mutex_;
    std::condition_variable changed_;
    bool producerStarted_ = false;
    EmulatorSettings settings_;
    CameraModes modes_{settings_};
    FramePainter painter_;
    ExposureLines lines_;
    EventLog log_;
    std::map<std::string, int> counters_;
    bool plugged_ = true;
    int modemLines_ = 0; // TIOCM_* bits of the tty

    std::map<int, VideoFile> videoFiles_;
    FrameMode mode_;
    v4l2_fract interval_{1, 10}; // the frame interval now
    EmulatedControls controls_;
    int owner_ = -1; // the file that requested the buffers
    int memoryFd_ = -1;
    std::uint8_t* memory_ = nullptr;
    std::size_t stride_ = 0;
    std::vector<Buffer> buffers_;
    std::deque<std::uint32_t> queued_;
    std::deque<std::uint32_t> done_;
    std::map<void*, std::uint32_t> mappings_; // caller's address -> buffer

    Stream stream_ = Stream::Off;
    std::int64_t firstStartUs_ = 0;
    std::uint32_t nextFrame_ = 0;
    std::deque<ReadoutExposure> readouts_; // ended exposures waiting for their frame
    int delivered_ = 0;
    int exposureFrames_ = 0;
    int exposureReadouts_ = 0;
    std::map<unsigned long, bool> unhandled_;
};

} // namespace lumenvale::emulated
