// The pictures of the emulated webcam in its four formats: grey rows, the even rows (counted
// from the bottom line, as a frame file stores them) at one level and the odd rows at another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumenvale::emulated {

struct FrameMode {
    std::uint32_t fourcc = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

class FramePainter {
public:
    static std::uint32_t bytesPerLine(const FrameMode& mode);
    // The buffer size the driver asks for, as a UVC camera's largest frame.
    static std::uint32_t sizeImage(const FrameMode& mode);

    // Writes the picture into `out` (at least sizeImage bytes); returns the bytes used.
    std::size_t paint(const FrameMode& mode, int evenLevel, int oddLevel, std::uint8_t* out);

private:
    // One compressed picture kept: a stream repeats the same few pictures.
    struct Encoded {
        FrameMode mode;
        int evenLevel = -1;
        int oddLevel = -1;
        std::vector<std::uint8_t> bytes;
    };
    const std::vector<std::uint8_t>& jpeg(const FrameMode& mode, int evenLevel, int oddLevel);

    std::vector<Encoded> encoded_;
};

} // namespace lumenvale::emulated
