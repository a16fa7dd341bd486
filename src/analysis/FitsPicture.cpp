// Writing and reading the float planes and keywords through cfitsio.
#include "analysis/FitsPicture.h"

#include "platform/Errors.h"
#include "platform/SafeWrite.h"

#include <fitsio.h>

#include <array>
#include <memory>
#include <string_view>
#include <vector>

namespace lumenvale {

namespace {

std::string FitsReason(int status) {
    std::array<char, FLEN_STATUS> text{};
    fits_get_errstatus(status, text.data());
    return std::string("FITS error ") + std::to_string(status) + " (" + text.data() + ")";
}

struct FitsCloser {
    void operator()(fitsfile* file) const {
        int status = 0;
        fits_close_file(file, &status);
    }
};
using FitsHandle = std::unique_ptr<fitsfile, FitsCloser>;

constexpr const char* BottomUp = "BOTTOM-UP";
constexpr const char* TopDown = "TOP-DOWN";

// Where value `i` of the interleaved values of a `width` x `height` picture goes in the planes,
// which follow one another, each the bottom line first (`bottomUp`) or the top line first.
std::size_t PlaneIndex(std::size_t i, int width, int height, bool bottomUp) {
    const std::size_t w = std::size_t(width);
    const std::size_t h = std::size_t(height);
    const std::size_t pixel = i / 3;
    const std::size_t line = pixel / w;
    const std::size_t stored = bottomUp ? h - 1 - line : line;
    return (i % 3) * w * h + stored * w + pixel % w;
}

} // namespace

void FitsPicture::write(const std::filesystem::path& file) const {
    WriteFileSafely(file, [this](const std::filesystem::path& temporary) {
        int status = 0;
        fitsfile* raw = nullptr;
        // "!" replaces a file of that name, which the safe write may hand us.
        // Appended rather than "!" + ...: GCC 12 at -O3 misreads that as an overlapping copy.
        std::string name(1, '!');
        name += temporary.string();
        if (fits_create_file(&raw, name.c_str(), &status) != 0) {
            throw FileError(temporary, FitsReason(status));
        }
        FitsHandle fits(raw);
        std::array<long, 3> axes{picture.width, picture.height, 3};
        fits_create_img(raw, FLOAT_IMG, 3, axes.data(), &status);
        double exposure = header.exposureSeconds;
        int combined = header.combined;
        fits_update_key(raw, TDOUBLE, "EXPTIME", &exposure, "total exposure, seconds", &status);
        fits_update_key(raw, TSTRING, "READMODE", const_cast<char*>(header.readMode.c_str()),
                        "camera readout", &status);
        fits_update_key(raw, TINT, "NCOMBINE", &combined, "frames combined", &status);
        fits_update_key(raw, TSTRING, "DATE-OBS", const_cast<char*>(header.dateObs.c_str()),
                        "UTC start of the first frame", &status);
        if (!header.imageType.empty()) {
            fits_update_key(raw, TSTRING, "IMAGETYP", const_cast<char*>(header.imageType.c_str()),
                            "kind of picture", &status);
        }
        fits_update_key(raw, TSTRING, "ROWORDER", const_cast<char*>(BottomUp),
                        "first row is the bottom of the picture", &status);
        std::vector<float> planes(picture.values.size());
        for (std::size_t i = 0; i < planes.size(); ++i) {
            planes[PlaneIndex(i, picture.width, picture.height, true)] = picture.values[i];
        }
        fits_write_img(raw, TFLOAT, 1, LONGLONG(planes.size()), planes.data(), &status);
        raw = fits.release();
        fits_close_file(raw, &status);
        if (status != 0) {
            throw FileError(temporary, FitsReason(status));
        }
    });
}

FitsPicture FitsPicture::read(const std::filesystem::path& file) {
    int status = 0;
    fitsfile* raw = nullptr;
    if (fits_open_image(&raw, file.c_str(), READONLY, &status) != 0) {
        throw FileError(file, FitsReason(status));
    }
    FitsHandle fits(raw);
    int axisCount = 0;
    std::array<long, 3> axes{};
    fits_get_img_dim(raw, &axisCount, &status);
    fits_get_img_size(raw, 3, axes.data(), &status);
    if (status != 0) {
        throw FileError(file, FitsReason(status));
    }
    if (axisCount != 3 || axes[2] != 3 || axes[0] < 1 || axes[1] < 1 || axes[0] > 1 << 15 ||
        axes[1] > 1 << 15) {
        throw FileError(file, "not a colour picture of three planes");
    }
    FitsPicture out;
    out.picture = FloatPicture(int(axes[0]), int(axes[1]));
    std::array<char, FLEN_VALUE> text{};
    fits_read_key(raw, TDOUBLE, "EXPTIME", &out.header.exposureSeconds, nullptr, &status);
    fits_read_key(raw, TSTRING, "READMODE", text.data(), nullptr, &status);
    out.header.readMode = text.data();
    fits_read_key(raw, TINT, "NCOMBINE", &out.header.combined, nullptr, &status);
    text.fill(0);
    fits_read_key(raw, TSTRING, "DATE-OBS", text.data(), nullptr, &status);
    out.header.dateObs = text.data();
    // No ROWORDER: a file this program wrote before it said so, the top line first.
    bool bottomUp = false;
    if (status == 0) {
        text.fill(0);
        if (fits_read_key(raw, TSTRING, "ROWORDER", text.data(), nullptr, &status) ==
            KEY_NO_EXIST) {
            status = 0;
        } else if (status == 0) {
            bottomUp = std::string_view(text.data()) == BottomUp;
            if (!bottomUp && std::string_view(text.data()) != TopDown) {
                throw FileError(file, std::string("unknown ROWORDER '") + text.data() + "'");
            }
        }
    }
    std::vector<float> planes(out.picture.values.size());
    int anyNull = 0;
    float nullValue = 0;
    fits_read_img(raw, TFLOAT, 1, LONGLONG(planes.size()), &nullValue, planes.data(), &anyNull,
                  &status);
    if (status != 0) {
        throw FileError(file, FitsReason(status));
    }
    for (std::size_t i = 0; i < planes.size(); ++i) {
        out.picture.values[i] =
            planes[PlaneIndex(i, out.picture.width, out.picture.height, bottomUp)];
    }
    return out;
}

} // namespace lumenvale
