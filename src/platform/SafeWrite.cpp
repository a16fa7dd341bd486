// Whole-file writes through a temporary name and a rename, respecting the file they replace.
#include "platform/SafeWrite.h"

#include "platform/Errors.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace lumenvale {

namespace {

// Where the content goes: a symbolic link is followed to the file it names, so the link stays
// a link. A link to nowhere names the file that is to be created.
fs::path ResolveLinks(const fs::path& target) {
    constexpr int MostLinks = 40; // as the kernel allows
    fs::path file = target;
    for (int hops = 0;; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(file, ec))) {
            return file;
        }
        if (hops == MostLinks) {
            throw FileError(target, "too many levels of symbolic links");
        }
        const fs::path to = fs::read_symlink(file, ec);
        if (ec) {
            throw FileError(target, "cannot follow the link: " + ec.message());
        }
        file = to.is_absolute() ? to : file.parent_path() / to;
    }
}

// As writing the file in place would find it. The owner's write bit counts even where the
// system would let this process write anyway, as it does for the file object's deletions.
bool ReadOnly(const fs::path& file, const struct stat& info) {
    return (info.st_mode & S_IWUSR) == 0 || ::access(file.c_str(), W_OK) != 0;
}

// A short name that is free in `directory`, whatever the length of the target's name: the
// target may already be as long as the file system allows. The name is taken once with
// O_EXCL to be sure it is free and that the directory takes new files, then given back for
// the writer to create. Nothing on error, with errno set.
std::optional<fs::path> FreeTemporaryName(const fs::path& directory) {
    static std::mt19937 random{std::random_device{}()};
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(Letters) - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".tmp";
        for (int i = 0; i < 6; ++i) {
            name.push_back(Letters[pick(random)]);
        }
        const fs::path temp = directory / name;
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(temp.c_str());
            return temp;
        }
        if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    errno = EEXIST;
    return std::nullopt;
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

std::optional<std::string> ReadWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

// Straight to the system, so a failure keeps its errno (a full disk says so).
void WriteBytes(const fs::path& file, std::string_view bytes) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        throw FileError(file, "cannot create file: " + SystemReason(errno));
    }
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            const int error = put < 0 ? errno : ENOSPC;
            ::close(fd);
            throw FileError(file, "cannot write: " + SystemReason(error));
        }
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    if (::close(fd) != 0) {
        throw FileError(file, "cannot write: " + SystemReason(errno));
    }
}

// Runs `write`; any failure becomes a FileError naming `target`, after `undo`.
template <typename Undo>
void Writing(const fs::path& target, const std::function<void(const fs::path&)>& write,
             const fs::path& file, Undo&& undo) {
    try {
        write(file);
    } catch (const FileError& e) {
        undo();
        throw FileError(target, e.reason());
    } catch (const std::exception& e) {
        undo();
        throw FileError(target, e.what());
    } catch (...) {
        undo();
        throw;
    }
}

// A directory that takes no new files but holds a writable file: the file is written where it
// is. Its old content is kept in memory meanwhile and put back if the write fails.
void WriteInPlace(const fs::path& target, const fs::path& file,
                  const std::function<void(const fs::path&)>& write) {
    const std::optional<std::string> old = ReadWhole(file);
    Writing(target, write, file, [&] {
        if (old) {
            try {
                WriteBytes(file, *old);
            } catch (const FileError&) {
                // The error of the write itself is the one to report.
            }
        }
    });
    if (!SyncFile(file)) {
        throw FileError(target, "cannot write: " + SystemReason(errno));
    }
}

} // namespace

void WriteFileSafely(const fs::path& target, const std::function<void(const fs::path&)>& write) {
    const fs::path file = ResolveLinks(target);
    struct stat info {};
    const bool exists = ::stat(file.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) {
        throw FileError(target, "is a directory");
    }
    if (exists && ReadOnly(file, info)) {
        throw FileError(target, "the file is read-only");
    }

    const fs::path directory = file.has_parent_path() ? file.parent_path() : fs::path(".");
    const std::optional<fs::path> free = FreeTemporaryName(directory);
    if (!free) {
        const int error = errno;
        if (exists && (error == EACCES || error == EPERM)) {
            WriteInPlace(target, file, write);
            return;
        }
        throw FileError(target, "cannot create a file in " + directory.string() + ": " +
                                    SystemReason(error));
    }
    const fs::path& temp = *free;
    std::error_code ec;
    Writing(target, write, temp, [&] { fs::remove(temp, ec); });

    const auto giveUp = [&](int error) {
        fs::remove(temp, ec);
        throw FileError(target, "cannot write: " + SystemReason(error));
    };
    if (exists && ::chmod(temp.c_str(), info.st_mode & 07777) != 0) {
        giveUp(errno);
    }
    // The content must be on the disk before the name points at it, or a power cut right
    // after the rename could leave an empty file where the old one was.
    if (!SyncFile(temp)) {
        giveUp(errno);
    }
    if (::rename(temp.c_str(), file.c_str()) != 0) {
        giveUp(errno);
    }
}

void WriteFileSafely(const fs::path& target, std::string_view bytes) {
    WriteFileSafely(target, [&](const fs::path& temp) { WriteBytes(temp, bytes); });
}

} // namespace lumenvale
