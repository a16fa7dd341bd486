// Positioned one-byte access to a frame file, kept in memory and written back once on close.
#include "frames/FrameFile.h"

#include "frames/FrameAccess.h"

#include "platform/Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

namespace lumenvale {

namespace {

constexpr std::size_t FileHeaderBytes = 14;
constexpr std::size_t MinInfoHeaderBytes = 40;
constexpr std::size_t HeaderBytes = FileHeaderBytes + MinInfoHeaderBytes;
constexpr std::uint32_t MaxDataOffset = 255; // the steps read only its low byte
constexpr std::uint16_t FrameBitsPerPixel = 24;
constexpr std::uint32_t Uncompressed = 0; // BI_RGB

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Empty when the header and the file size describe a frame the steps can work on; otherwise
// what is wrong, in the user's terms.
std::string FrameProblem(const std::uint8_t* header, std::uint64_t fileSize) {
    if (fileSize < HeaderBytes) {
        return "too short to be a frame (" + std::to_string(fileSize) + " bytes)";
    }
    if (header[0] != 'B' || header[1] != 'M') {
        return "not a BMP file (no \"BM\" signature)";
    }
    const std::uint32_t infoBytes = Le32(header + 14);
    if (infoBytes < MinInfoHeaderBytes) {
        return "not a frame: old-style BMP information header of " + std::to_string(infoBytes) +
               " bytes";
    }
    const auto width = static_cast<std::int32_t>(Le32(header + 18));
    if (width != FrameWidth) {
        return "not a frame: " + std::to_string(width) + " pixels wide, not " +
               std::to_string(FrameWidth);
    }
    const auto height = static_cast<std::int32_t>(Le32(header + 22));
    if (height == -FrameHeight) {
        return "not a frame: stored top-down; frames are stored bottom-up";
    }
    if (height != FrameHeight) {
        return "not a frame: " + std::to_string(height) + " lines high, not " +
               std::to_string(FrameHeight);
    }
    const std::uint16_t bits = Le16(header + 28);
    if (bits != FrameBitsPerPixel) {
        return "not a frame: " + std::to_string(bits) + " bits per pixel, not 24";
    }
    const std::uint32_t compression = Le32(header + 30);
    if (compression != Uncompressed) {
        return "not a frame: compressed (compression type " + std::to_string(compression) +
               "); frames are uncompressed";
    }
    const std::uint32_t offset = Le32(header + 10);
    if (offset > MaxDataOffset) {
        return "pixel data at offset " + std::to_string(offset) +
               ", beyond the 255 this program handles";
    }
    if (offset < FileHeaderBytes + std::uint64_t{infoBytes}) {
        return "not a frame: pixel data at offset " + std::to_string(offset) +
               " overlaps the headers";
    }
    const std::uint64_t needed = std::uint64_t{offset} + FramePixelBytes;
    if (fileSize < needed) {
        return "too short: " + std::to_string(fileSize) + " bytes, a 640 x 480 frame needs " +
               std::to_string(needed);
    }
    return {};
}

// Reads exactly `size` bytes at `offset`; false at a premature end of file.
bool ReadAt(int fd, std::uint8_t* buffer, std::size_t size, std::uint64_t offset, int& error) {
    while (size > 0) {
        const ssize_t got = ::pread(fd, buffer, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            return false;
        }
        buffer += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

bool WriteAt(int fd, const std::uint8_t* buffer, std::size_t size, std::uint64_t offset,
             int& error) {
    while (size > 0) {
        const ssize_t put = ::pwrite(fd, buffer, size, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            error = put < 0 ? errno : ENOSPC;
            return false;
        }
        buffer += put;
        size -= static_cast<std::size_t>(put);
        offset += static_cast<std::uint64_t>(put);
    }
    return true;
}

// Owns a descriptor until released, so every refusal path closes it.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

int OpenFrame(const std::filesystem::path& file, int flags) {
    const int fd = ::open(file.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) {
            throw FileError(file, "no such file");
        }
        throw FileError(file, std::string((flags & O_ACCMODE) == O_RDWR
                                              ? "cannot open for reading and writing: "
                                              : "cannot open: ") +
                                  SystemReason(error));
    }
    return fd;
}

// Reads the header and checks the frame; returns the size of the frame (pixel data end).
std::size_t CheckOpenFrame(const std::filesystem::path& file, int fd,
                           std::uint8_t (&header)[HeaderBytes]) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        throw FileError(file, "cannot read: " + SystemReason(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        throw FileError(file, "not a regular file");
    }
    const auto fileSize = static_cast<std::uint64_t>(status.st_size);
    int error = 0;
    if (fileSize >= HeaderBytes && !ReadAt(fd, header, HeaderBytes, 0, error)) {
        throw FileError(file, "cannot read: " + (error ? SystemReason(error)
                                                       : std::string("file shrank while read")));
    }
    const std::string problem = FrameProblem(header, fileSize);
    if (!problem.empty()) {
        throw FileError(file, problem);
    }
    return Le32(header + 10) + FramePixelBytes;
}

} // namespace

FrameFile::FrameFile(std::filesystem::path file) : path_(std::move(file)) {
    Descriptor fd(OpenFrame(path_, O_RDWR));
    std::uint8_t header[HeaderBytes];
    const std::size_t frameBytes = CheckOpenFrame(path_, fd.get(), header);
    size_ = frameBytes;
    bytes_ = std::make_unique_for_overwrite<std::uint8_t[]>(size_);
    int error = 0;
    if (!ReadAt(fd.get(), bytes_.get(), size_, 0, error)) {
        throw FileError(path_, "cannot read: " + (error ? SystemReason(error)
                                                        : std::string("file shrank while read")));
    }
    // What was checked must be what the steps work on.
    if (std::memcmp(header, bytes_.get(), HeaderBytes) != 0) {
        throw FileError(path_, "changed while being read");
    }
    fd_ = fd.release();
}

FrameFile::~FrameFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void FrameFile::check(const std::filesystem::path& file) {
    Descriptor fd(OpenFrame(file, O_RDONLY));
    std::uint8_t header[HeaderBytes];
    CheckOpenFrame(file, fd.get(), header);
}

std::uint8_t FrameFile::readByte(std::size_t position) const {
    if (position - 1 >= size_) {
        outsideFrame(position);
    }
    return bytes_[position - 1];
}

void FrameFile::writeByte(std::size_t position, std::uint8_t value) {
    FrameAccess(*this).writeByte(position, value);
}

void FrameFile::close() {
    if (accesses_ != 0) {
        throw std::logic_error("frame file closed during a pass over its bytes");
    }
    if (fd_ < 0) {
        return;
    }
    Descriptor fd(std::exchange(fd_, -1));
    if (changedBegin_ < changedEnd_) {
        int error = 0;
        if (!WriteAt(fd.get(), bytes_.get() + changedBegin_, changedEnd_ - changedBegin_,
                     changedBegin_, error)) {
            throw FileError(path_, "cannot write: " + SystemReason(error));
        }
        changedBegin_ = SIZE_MAX;
        changedEnd_ = 0;
    }
    if (::close(fd.release()) != 0) {
        throw FileError(path_, "cannot write: " + SystemReason(errno));
    }
}

void FrameFile::outsideFrame(std::size_t position) const {
    throw FileError(path_, "position " + std::to_string(position) + " lies outside the frame");
}

} // namespace lumenvale
