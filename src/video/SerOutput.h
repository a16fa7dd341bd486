// Where a SER file's bytes go: appended as frames arrive, its header rewritten in place at the
// end, and cut back to whole frames when the disk fills. The real one is a file; tests put a
// smaller disk in its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace lumenvale {

class SerOutput {
public:
    virtual ~SerOutput() = default;
    // Each returns 0, or the errno of what failed; a failed append may have written part.
    virtual int append(const std::uint8_t* bytes, std::size_t size) = 0;
    virtual int writeAt(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) = 0;
    virtual int truncate(std::uint64_t size) = 0;
    // Flushes to the disk and closes; nothing more is written after it.
    virtual int close() = 0;
};

// A new file at `path` (an existing one is refused, so no recording overwrites another).
class SerFileOutput : public SerOutput {
public:
    // Throws FileError naming `path` when it cannot be created.
    explicit SerFileOutput(const std::filesystem::path& path);
    ~SerFileOutput() override;
    SerFileOutput(const SerFileOutput&) = delete;
    SerFileOutput& operator=(const SerFileOutput&) = delete;

    int append(const std::uint8_t* bytes, std::size_t size) override;
    int writeAt(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) override;
    int truncate(std::uint64_t size) override;
    int close() override;

private:
    int fd_ = -1;
    std::uint64_t end_ = 0; // where appends go
};

} // namespace lumenvale
