// Whole-file operations on the working frame files: copy, test, delete, rename.
#pragma once

#include <filesystem>

namespace lumenvale {

// Each operation succeeds or throws FileError naming the file concerned. Virtual so that a
// test can make one of them fail.
class FileSystemObject {
public:
    virtual ~FileSystemObject() = default;
    // Copies `source` to `destination`; with `overwrite`, an existing destination is replaced.
    virtual void CopyFile(const std::filesystem::path& source,
                          const std::filesystem::path& destination, bool overwrite = true);
    virtual bool FileExists(const std::filesystem::path& file);
    // Without `force`, a file without write permission is refused, not removed.
    virtual void DeleteFile(const std::filesystem::path& file, bool force = false);
    // Renames within a directory; an existing destination is refused.
    virtual void MoveFile(const std::filesystem::path& source,
                          const std::filesystem::path& destination);
};

} // namespace lumenvale
