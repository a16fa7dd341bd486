// The driver's folder for the capture core's working frame files, made in the temporary
// directory ($TMPDIR, else /tmp) and removed with this object or, whatever way the driver ends,
// right after it.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace lumenvale {

// A driver often ends without running any of its own code: indiserver stops a driver with
// SIGKILL, libindi calls exit() when the server closes the driver's input, and SIGTERM or a
// terminal's SIGINT end it at once. So a small helper process, forked with the folder, holds
// the read end of a pipe whose write end only the driver holds; the kernel closes that end
// however the driver ends, and the helper then removes the folder and exits.
class WorkFolder {
public:
    // Makes `<temporary directory>/<prefix>-XXXXXX`; see isValid().
    explicit WorkFolder(const std::string& prefix);
    // Removes the folder before it returns.
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    bool isValid() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }
    // Why the folder could not be made.
    const std::string& error() const { return error_; }

private:
    std::filesystem::path path_;
    std::string error_;
    int guard_ = -1;
    pid_t remover_ = -1;
};

} // namespace lumenvale
