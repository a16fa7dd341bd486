// Writing and reading the float planes and keywords through cfitsio.
#include "analysis/FitsPicture.h"

#include "platform/Errors.h"
#include "platform/SafeWrite.h"

#include <fitsio.h>

#include <array>
#include <memory>

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
        // The planes one after the other, from the interleaved values.
        const std::size_t plane = std::size_t(picture.width) * std::size_t(picture.height);
        std::vector<float> planes(plane * 3);
        for (std::size_t i = 0; i < plane; ++i) {
            for (std::size_t c = 0; c < 3; ++c) {
                planes[c * plane + i] = picture.values[3 * i + c];
            }
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
    const std::size_t plane = std::size_t(axes[0]) * std::size_t(axes[1]);
    std::vector<float> planes(plane * 3);
    int anyNull = 0;
    float nullValue = 0;
    fits_read_img(raw, TFLOAT, 1, LONGLONG(planes.size()), &nullValue, planes.data(), &anyNull,
                  &status);
    if (status != 0) {
        throw FileError(file, FitsReason(status));
    }
    for (std::size_t i = 0; i < plane; ++i) {
        for (std::size_t c = 0; c < 3; ++c) {
            out.picture.values[3 * i + c] = planes[c * plane + i];
        }
    }
    return out;
}

} // namespace lumenvale
