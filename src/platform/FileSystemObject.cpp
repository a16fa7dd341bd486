// Whole-file operations on std::filesystem, each succeeding or throwing FileError.
#include "platform/FileSystemObject.h"

#include "platform/Errors.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include <system_error>

namespace fs = std::filesystem;

namespace lumenvale {

void FileSystemObject::CopyFile(const fs::path& source, const fs::path& destination,
                                bool overwrite) {
    std::error_code ec;
    if (!fs::is_regular_file(source, ec)) {
        throw FileError(source, "no such file to copy");
    }
    const auto options = overwrite ? fs::copy_options::overwrite_existing : fs::copy_options::none;
    if (!fs::copy_file(source, destination, options, ec) || ec) {
        throw FileError(destination, "cannot copy " + source.string() + ": " +
                                         (ec ? ec.message() : std::string("file exists")));
    }
}

bool FileSystemObject::FileExists(const fs::path& file) {
    std::error_code ec;
    return fs::is_regular_file(file, ec);
}

void FileSystemObject::DeleteFile(const fs::path& file, bool force) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        throw FileError(file, "no such file to delete");
    }
    // Without force a read-only file is refused, as the file object has always done, even
    // where the directory would allow the unlink.
    if (!force) {
        const auto perms = fs::status(file, ec).permissions();
        if (ec || (perms & fs::perms::owner_write) == fs::perms::none) {
            throw FileError(file, "file is read-only; not deleted");
        }
    }
    if (!fs::remove(file, ec) || ec) {
        throw FileError(file, "cannot delete: " + ec.message());
    }
}

void FileSystemObject::MoveFile(const fs::path& source, const fs::path& destination) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(source, ec))) {
        throw FileError(source, "no such file to rename");
    }
    const auto refuseExisting = [&] {
        throw FileError(destination, "file exists; cannot rename " + source.string() + " to it");
    };
    // symlink_status: a dangling link is a name in use all the same.
    if (fs::exists(fs::symlink_status(destination, ec))) {
        refuseExisting();
    }
    // The kernel refuses an existing destination itself, so a file appearing between the test
    // above and the rename is not overwritten; file systems without that fall back to rename.
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) ==
        0) {
        return;
    }
    const int error = errno;
    if (error == EEXIST) {
        refuseExisting();
    }
    if (error != EINVAL && error != ENOSYS) {
        throw FileError(source, "cannot rename to " + destination.string() + ": " +
                                    std::generic_category().message(error));
    }
    fs::rename(source, destination, ec);
    if (ec) {
        throw FileError(source, "cannot rename to " + destination.string() + ": " + ec.message());
    }
}

} // namespace lumenvale
