// Whole-file operations on std::filesystem, each succeeding or throwing FileError.
#include "platform/FileSystemObject.h"

#include "platform/Errors.h"

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
    if (!fs::exists(source, ec)) {
        throw FileError(source, "no such file to rename");
    }
    if (fs::exists(destination, ec)) {
        throw FileError(destination, "file exists; cannot rename " + source.string() + " to it");
    }
    fs::rename(source, destination, ec);
    if (ec) {
        throw FileError(source, "cannot rename to " + destination.string() + ": " + ec.message());
    }
}

} // namespace lumenvale
