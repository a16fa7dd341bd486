// Float pictures as FITS files (cfitsio): the master darks and the saved stack. Three 32-bit
// float planes, red, green and blue, with the keywords other astronomy programs read: EXPTIME,
// READMODE, NCOMBINE, DATE-OBS. The bottom line of the picture is stored first, as FITS has it
// (pixel 1, 1 at the bottom left): Siril, DS9 and their like show the file upright, the way
// round of the PNG and BMP files, and ROWORDER = 'BOTTOM-UP' says so. Files written before
// that keyword (the top line first, no ROWORDER) and files with ROWORDER = 'TOP-DOWN' are read
// the right way round too.
#pragma once

#include "analysis/FloatPicture.h"

#include <filesystem>
#include <string>

namespace lumenvale {

struct FitsHeader {
    double exposureSeconds = 0; // EXPTIME
    std::string readMode;       // READMODE: "2x1 Binned" or "Hi-res"
    int combined = 0;           // NCOMBINE: frames that went into the picture
    std::string dateObs;        // DATE-OBS: UTC start of the first frame, ISO 8601
    std::string imageType{};    // IMAGETYP: "Dark Frame", "Flat Field"; written when set
};

struct FitsPicture {
    FloatPicture picture;
    FitsHeader header;

    // Whole-file safe: a failure leaves any earlier file as it was. Throws FileError.
    void write(const std::filesystem::path& file) const;
    // Throws FileError naming the file when it cannot be read or is not a picture of this kind.
    static FitsPicture read(const std::filesystem::path& file);
};

} // namespace lumenvale
