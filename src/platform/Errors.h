// The errors the program raises instead of ending: each says what failed and, for files, which.
#pragma once

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace lumenvale {

// A file operation that failed: the message names the file and the reason.
class FileError : public std::runtime_error {
public:
    FileError(std::filesystem::path file, const std::string& reason)
        : std::runtime_error(file.string() + ": " + reason), file_(std::move(file)),
          reason_(reason) {}

    const std::filesystem::path& file() const { return file_; }
    const std::string& reason() const { return reason_; }

private:
    std::filesystem::path file_;
    std::string reason_;
};

// The system's words for an errno value; a full disk is said plainly, so the user knows what
// to free rather than reading "No space left on device" about a device.
inline std::string SystemReason(int error) {
    const std::string words = std::generic_category().message(error);
    return error == ENOSPC ? "the disk is full (" + words + ")" : words;
}

} // namespace lumenvale
