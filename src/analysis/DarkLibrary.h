// The master darks and flats kept in "darks/" under the working directory: one FITS file per
// readout mode and exposure time for the darks, one per readout mode for the flats; and the
// choice of the one a light frame (or a run of flats) takes.
#pragma once

#include "analysis/FitsPicture.h"

#include <QString>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumenvale {

class DarkLibrary {
public:
    // A dark serves a light whose exposure is within this share of its own.
    static constexpr double ExposureTolerance = 0.02;

    explicit DarkLibrary(std::filesystem::path directory) : directory_(std::move(directory)) {}

    const std::filesystem::path& directory() const { return directory_; }
    // "dark-2x1-Binned-30000ms.fits", "dark-Hi-res-500ms.fits".
    static std::string FileName(const std::string& readMode, std::int32_t exposureMs);
    // "flat-2x1-Binned.fits", "flat-Hi-res.fits".
    static std::string FlatFileName(const std::string& readMode);

    // Writes the master dark safely under its name, making the directory if need be.
    // Throws FileError.
    std::filesystem::path save(const FitsPicture& dark, std::int32_t exposureMs) const;
    // The same for the master flat of the picture's mode.
    std::filesystem::path saveFlat(const FitsPicture& flat) const;

    struct Choice {
        std::optional<FitsPicture> dark; // the dark or the flat
        std::filesystem::path file;
        // Why a file that would have served was passed over (unreadable, other size).
        QString problem;
    };
    // The dark of `readMode` closest in exposure to `exposureMs`, within the tolerance, of
    // the light's size.
    Choice find(const std::string& readMode, std::int32_t exposureMs, int width, int height) const;
    // The shortest dark of `readMode` of that size: the bias, for flats without a dark.
    Choice findShortest(const std::string& readMode, int width, int height) const;
    // The flat of `readMode` of that size.
    Choice findFlat(const std::string& readMode, int width, int height) const;

private:
    // Files with a key to try them in, smallest first.
    using Candidates = std::vector<std::pair<double, std::filesystem::path>>;
    // The darks of `readMode` in the directory, keyed by their exposures read from their names.
    Candidates darks(const std::string& readMode) const;
    // The first of `candidates` that reads and is of the mode and size.
    static Choice First(Candidates candidates, const std::string& readMode, int width, int height);
    std::filesystem::path write(const FitsPicture& picture, const std::string& name) const;

    std::filesystem::path directory_;
};

} // namespace lumenvale
