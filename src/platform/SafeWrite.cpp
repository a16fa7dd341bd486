// Whole-file writes through a temporary name and a rename.
#include "platform/SafeWrite.h"

#include "platform/Errors.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace lumenvale {

namespace {

fs::path temporaryNameFor(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    fs::path temp = target;
    temp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    return temp;
}

bool SyncFile(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return synced;
}

} // namespace

void WriteFileSafely(const fs::path& target, const std::function<void(const fs::path&)>& write) {
    const fs::path temp = temporaryNameFor(target);
    std::error_code ec;
    try {
        write(temp);
    } catch (const FileError& e) {
        fs::remove(temp, ec);
        throw FileError(target, e.reason());
    } catch (const std::exception& e) {
        fs::remove(temp, ec);
        throw FileError(target, e.what());
    } catch (...) {
        fs::remove(temp, ec);
        throw;
    }
    // The content must be on the disk before the name points at it, or a power cut right
    // after the rename could leave an empty file where the old one was.
    if (!SyncFile(temp)) {
        const int error = errno;
        fs::remove(temp, ec);
        throw FileError(target, "cannot write: " + std::generic_category().message(error));
    }
    if (fs::is_directory(target, ec)) {
        fs::remove(temp, ec);
        throw FileError(target, "is a directory");
    }
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw FileError(target, "cannot write: " + ec.message());
    }
}

void WriteFileSafely(const fs::path& target, std::string_view bytes) {
    WriteFileSafely(target, [&](const fs::path& temp) {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            throw FileError(temp, "cannot create file: " +
                                      std::error_code(errno, std::generic_category()).message());
        }
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            throw FileError(temp, "write failed (disk full?)");
        }
    });
}

} // namespace lumenvale
