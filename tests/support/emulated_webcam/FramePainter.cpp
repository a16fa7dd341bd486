// Painting and compressing the emulated webcam's frames.
#include "FramePainter.h"

#include <linux/videodev2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace lumenvale::emulated {

namespace {

constexpr int JpegQuality = 100;
constexpr std::uint8_t NeutralChroma = 128;
constexpr std::size_t KeptPictures = 8;

// Rows are counted from the bottom line of the picture, as a frame file stores them: the
// camera's readout fills every other stored row, starting with the first.
std::uint8_t rowLevel(std::uint32_t row, std::uint32_t height, int evenLevel, int oddLevel) {
    return std::uint8_t((height - 1 - row) % 2 == 0 ? evenLevel : oddLevel);
}

} // namespace

std::uint32_t FramePainter::bytesPerLine(const FrameMode& mode) {
    switch (mode.fourcc) {
    case V4L2_PIX_FMT_YUYV:
        return mode.width * 2;
    case V4L2_PIX_FMT_MJPEG:
        return 0;
    default:
        return mode.width;
    }
}

std::uint32_t FramePainter::sizeImage(const FrameMode& mode) {
    return mode.fourcc == V4L2_PIX_FMT_GREY || mode.fourcc == V4L2_PIX_FMT_SBGGR8
               ? mode.width * mode.height
               : mode.width * mode.height * 2;
}

std::size_t FramePainter::paint(const FrameMode& mode, int evenLevel, int oddLevel,
                                std::uint8_t* out) {
    if (mode.fourcc == V4L2_PIX_FMT_MJPEG) {
        const std::vector<std::uint8_t>& bytes = jpeg(mode, evenLevel, oddLevel);
        std::memcpy(out, bytes.data(), bytes.size());
        return bytes.size();
    }
    const std::uint32_t line = bytesPerLine(mode);
    for (std::uint32_t row = 0; row < mode.height; ++row) {
        std::uint8_t* at = out + std::size_t(row) * line;
        const std::uint8_t level = rowLevel(row, mode.height, evenLevel, oddLevel);
        if (mode.fourcc == V4L2_PIX_FMT_YUYV) {
            for (std::uint32_t x = 0; x < line; x += 2) {
                at[x] = level;
                at[x + 1] = NeutralChroma;
            }
        } else {
            // Grey, and a Bayer sensor under grey light: every photosite sees the same level.
            std::memset(at, level, line);
        }
    }
    return std::size_t(line) * mode.height;
}

const std::vector<std::uint8_t>& FramePainter::jpeg(const FrameMode& mode, int evenLevel,
                                                    int oddLevel) {
    for (const Encoded& kept : encoded_) {
        if (kept.mode.width == mode.width && kept.mode.height == mode.height &&
            kept.evenLevel == evenLevel && kept.oddLevel == oddLevel) {
            return kept.bytes;
        }
    }
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* memory = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &memory, &size);
    info.image_width = mode.width;
    info.image_height = mode.height;
    info.input_components = 3;
    info.in_color_space = JCS_YCbCr;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, JpegQuality, TRUE);
    // 4:2:2, as UVC webcams send it.
    info.comp_info[0].h_samp_factor = 2;
    info.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&info, TRUE);
    std::vector<std::uint8_t> row(std::size_t(mode.width) * 3, NeutralChroma);
    while (info.next_scanline < info.image_height) {
        const std::uint8_t level = rowLevel(info.next_scanline, mode.height, evenLevel, oddLevel);
        for (std::uint32_t x = 0; x < mode.width; ++x) {
            row[std::size_t(x) * 3] = level;
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    if (size > sizeImage(mode)) {
        std::fprintf(stderr, "emulated webcam: a %ux%u JPEG frame does not fit its buffer\n",
                     mode.width, mode.height);
        std::abort();
    }
    if (encoded_.size() == KeptPictures) {
        encoded_.erase(encoded_.begin());
    }
    encoded_.push_back(
        {mode, evenLevel, oddLevel, std::vector<std::uint8_t>(memory, memory + size)});
    std::free(memory);
    return encoded_.back().bytes;
}

} // namespace lumenvale::emulated
