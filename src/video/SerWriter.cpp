// Writing a SER file so that whatever happens, what is on disk is a file the stackers read.
#include "video/SerWriter.h"

#include "platform/Errors.h"

#include <chrono>
#include <cstring>
#include <ctime>

namespace lumenvale {

namespace {

constexpr std::size_t TextBytes = 40;
constexpr std::size_t FrameCountAt = 38;
constexpr std::int32_t LuId = 0;
constexpr std::int32_t DepthBits = 8;
// The byte order flag as the format defines it: 1 for little-endian values. With 8-bit values
// it has no effect on the frames.
constexpr std::int32_t LittleEndianFlag = 1;

template <typename Int> void put(std::vector<std::uint8_t>& out, Int value) {
    for (std::size_t i = 0; i < sizeof(Int); ++i) {
        out.push_back(std::uint8_t(std::uint64_t(value) >> (8 * i)));
    }
}

void putText(std::vector<std::uint8_t>& out, const std::string& text, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(i < text.size() ? std::uint8_t(text[i]) : 0);
    }
}

} // namespace

SerWriter::SerWriter(std::filesystem::path path, std::unique_ptr<SerOutput> output,
                     const Format& format)
    : path_(std::move(path)), output_(std::move(output)),
      frameBytes_(std::size_t(format.width) * std::size_t(format.height) *
                  (format.colour == Mono ? 1 : 3)) {
    std::vector<std::uint8_t> header;
    header.reserve(HeaderBytes);
    putText(header, "LUCAM-RECORDER", 14);
    put(header, LuId);
    put(header, format.colour);
    put(header, LittleEndianFlag);
    put(header, std::int32_t(format.width));
    put(header, std::int32_t(format.height));
    put(header, DepthBits);
    put(header, std::int32_t(0)); // the frame count, once finished
    putText(header, format.observer, TextBytes);
    putText(header, format.instrument, TextBytes);
    putText(header, format.telescope, TextBytes);
    put(header, format.startLocalTicks);
    put(header, format.startUtcTicks);
    if (const int error = output_->append(header.data(), header.size()); error != 0) {
        output_->close();
        throw FileError(path_, std::string("cannot be written: ") + std::strerror(error));
    }
}

SerWriter::~SerWriter() {
    try {
        finish();
    } catch (const FileError&) {
        // Whoever needed to know was told by add() or an explicit finish().
    }
}

void SerWriter::add(const std::uint8_t* bytes, std::int64_t utcTicks) {
    if (finished_) {
        throw FileError(path_, "the recording has ended");
    }
    if (const int error = output_->append(bytes, frameBytes_); error != 0) {
        // Part of the frame may be on disk: cut back to the whole frames before it.
        output_->truncate(HeaderBytes + frameBytes_ * stamps_.size());
        fail("the recording stopped after " + std::to_string(stamps_.size()) + " frames", error);
    }
    stamps_.push_back(utcTicks);
}

void SerWriter::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    if (const int error = writeEnd(); error != 0) {
        throw FileError(path_, std::string("cannot be finished: ") + std::strerror(error));
    }
}

void SerWriter::fail(const std::string& what, int error) {
    finished_ = true;
    writeEnd();
    throw FileError(path_, what + ": " + std::strerror(error));
}

int SerWriter::writeEnd() {
    std::vector<std::uint8_t> count;
    put(count, std::int32_t(stamps_.size()));
    int error = output_->writeAt(FrameCountAt, count.data(), count.size());
    std::vector<std::uint8_t> trailer;
    trailer.reserve(stamps_.size() * sizeof(std::int64_t));
    for (const std::int64_t stamp : stamps_) {
        put(trailer, stamp);
    }
    if (const int trailerError = output_->append(trailer.data(), trailer.size());
        trailerError != 0) {
        // The trailer is optional in the format: without room for it the frames stay readable.
        output_->truncate(HeaderBytes + frameBytes_ * stamps_.size());
        error = error != 0 ? error : trailerError;
    }
    if (const int closeError = output_->close(); error == 0) {
        error = closeError;
    }
    return error;
}

std::int64_t SerWriter::UtcTicksNow() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return UnixEpochTicks +
           std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count() * 10;
}

std::int64_t SerWriter::LocalTicks(std::int64_t utcTicks) {
    const std::time_t seconds = std::time_t((utcTicks - UnixEpochTicks) / 10'000'000);
    std::tm local{};
    localtime_r(&seconds, &local);
    return utcTicks + std::int64_t(local.tm_gmtoff) * 10'000'000;
}

} // namespace lumenvale
