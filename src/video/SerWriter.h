// A SER video file, the format planetary stackers read: the 178-byte header, the frames one
// after another (top line first, 8 bits a value), and a trailer of one UTC time per frame.
// The header's frame count and the trailer are written when the file is finished, so a file
// is complete only after finish(); a write that fails finishes it with the frames written.
#pragma once

#include "video/SerOutput.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace lumenvale {

class SerWriter {
public:
    static constexpr std::size_t HeaderBytes = 178;
    static constexpr std::int32_t Mono = 0;
    static constexpr std::int32_t Rgb = 100;
    // 100 ns ticks from 1 January of year 1 to 1 January 1970, as the header's times count.
    static constexpr std::int64_t UnixEpochTicks = 621'355'968'000'000'000;

    struct Format {
        int width = 0;
        int height = 0;
        std::int32_t colour = Rgb;
        // At most 40 bytes each are kept.
        std::string observer;
        std::string instrument;
        std::string telescope;
        // The start of the recording in ticks: local time and UTC.
        std::int64_t startLocalTicks = 0;
        std::int64_t startUtcTicks = 0;
    };

    // Writes the header (a count of 0 until finished). Throws FileError naming `path`.
    SerWriter(std::filesystem::path path, std::unique_ptr<SerOutput> output, const Format& format);
    ~SerWriter();
    SerWriter(const SerWriter&) = delete;
    SerWriter& operator=(const SerWriter&) = delete;

    // One frame of frameBytes() bytes and its UTC time in ticks. When it cannot be written the
    // file is finished with the frames before it, and FileError naming the file is thrown.
    void add(const std::uint8_t* bytes, std::int64_t utcTicks);
    // Writes the frame count and the trailer, then closes; once, later calls do nothing. Throws
    // FileError when even that fails (the frames written stay readable).
    void finish();

    std::size_t frameBytes() const { return frameBytes_; }
    int frames() const { return int(stamps_.size()); }
    const std::filesystem::path& path() const { return path_; }

    // The current time as the header counts it.
    static std::int64_t UtcTicksNow();
    // `utcTicks` in this computer's time zone.
    static std::int64_t LocalTicks(std::int64_t utcTicks);

private:
    [[noreturn]] void fail(const std::string& what, int error);
    int writeEnd();

    std::filesystem::path path_;
    std::unique_ptr<SerOutput> output_;
    std::size_t frameBytes_;
    std::vector<std::int64_t> stamps_;
    bool finished_ = false;
};

} // namespace lumenvale
