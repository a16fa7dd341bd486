// The SER file on disk, through plain system calls so that a full disk is seen at each write.
#include "video/SerOutput.h"

#include "platform/Errors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lumenvale {

SerFileOutput::SerFileOutput(const std::filesystem::path& path)
    : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)) {
    if (fd_ < 0) {
        throw FileError(path, std::string("cannot be created: ") + std::strerror(errno));
    }
}

SerFileOutput::~SerFileOutput() {
    close();
}

int SerFileOutput::append(const std::uint8_t* bytes, std::size_t size) {
    const int error = writeAt(end_, bytes, size);
    if (error == 0) {
        end_ += size;
    }
    return error;
}

int SerFileOutput::writeAt(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::pwrite(fd_, bytes, size, off_t(offset));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (written == 0) {
            return ENOSPC;
        }
        bytes += written;
        size -= std::size_t(written);
        offset += std::uint64_t(written);
    }
    return 0;
}

int SerFileOutput::truncate(std::uint64_t size) {
    if (::ftruncate(fd_, off_t(size)) != 0) {
        return errno;
    }
    end_ = size;
    return 0;
}

int SerFileOutput::close() {
    if (fd_ < 0) {
        return 0;
    }
    int error = ::fsync(fd_) != 0 && errno != EINVAL ? errno : 0;
    if (::close(fd_) != 0 && error == 0) {
        error = errno;
    }
    fd_ = -1;
    return error;
}

} // namespace lumenvale
