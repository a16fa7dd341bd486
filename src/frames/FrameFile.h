// Positioned one-byte access to a frame file, kept in memory and written back once on close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace lumenvale {

inline constexpr int FrameWidth = 640;
inline constexpr int FrameHeight = 480;
inline constexpr std::size_t FrameRowBytes = 1920; // 640 pixels of blue, green, red; no padding
inline constexpr std::size_t FramePixelBytes = FrameRowBytes * FrameHeight;
// Position of the low byte of the pixel data offset, the one header value the steps read.
inline constexpr std::size_t DataOffsetPosition = 11;

// The processing steps read and write single bytes at 1-based positions, as they always have;
// behind those positions the file is read once when opened and its changed bytes are written
// back once when closed. Only the frame itself (up to the end of its pixel data) is held.
//
// Opening refuses, with a FileError naming the file and the reason, anything that is not a
// 640 x 480, bottom-up, 24-bit, uncompressed BMP with its pixel data after its headers, at an
// offset below 256, and fully inside the file: the steps rely on exactly that. Nothing is
// written before close(), so a step that fails part-way leaves the file as it was.
class FrameFile {
public:
    // Opens `file` for reading and writing without truncating it.
    explicit FrameFile(std::filesystem::path file);
    // Closes without writing: changes not committed by close() are dropped.
    ~FrameFile();
    FrameFile(const FrameFile&) = delete;
    FrameFile& operator=(const FrameFile&) = delete;

    // Throws FileError when `file` is missing, unreadable or not a frame; reads only the header.
    static void check(const std::filesystem::path& file);

    // One byte at a 1-based position. The steps' loops use FrameAccess, which is the same
    // thing made cheap enough for a million calls.
    std::uint8_t readByte(std::size_t position) const;
    void writeByte(std::size_t position, std::uint8_t value);

    // D: the pixel data begins at position D + 1.
    std::size_t dataOffset() const { return readByte(DataOffsetPosition); }

    // Writes back the changed bytes, if any, and closes. Throws FileError if that fails. Every
    // FrameAccess on the file must have ended.
    void close();

    const std::filesystem::path& path() const { return path_; }

private:
    friend class FrameAccess;

    [[noreturn]] void outsideFrame(std::size_t position) const;
    void noteChanged(std::size_t begin, std::size_t end) {
        changedBegin_ = begin < changedBegin_ ? begin : changedBegin_;
        changedEnd_ = end > changedEnd_ ? end : changedEnd_;
    }

    std::filesystem::path path_;
    int fd_ = -1;
    std::size_t size_ = 0;
    std::unique_ptr<std::uint8_t[]> bytes_;
    // Bytes [changedBegin_, changedEnd_) hold every change; empty while begin >= end.
    std::size_t changedBegin_ = SIZE_MAX;
    std::size_t changedEnd_ = 0;
    int accesses_ = 0;
};

} // namespace lumenvale
