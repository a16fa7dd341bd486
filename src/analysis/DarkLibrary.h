// The master darks kept in "darks/" under the working directory, one FITS file per readout
// mode and exposure time, and the choice of the one a light frame takes.
#pragma once

#include "analysis/FitsPicture.h"

#include <QString>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace lumenvale {

class DarkLibrary {
public:
    // A dark serves a light whose exposure is within this share of its own.
    static constexpr double ExposureTolerance = 0.02;

    explicit DarkLibrary(std::filesystem::path directory) : directory_(std::move(directory)) {}

    const std::filesystem::path& directory() const { return directory_; }
    // "dark-2x1-Binned-30000ms.fits", "dark-Hi-res-500ms.fits".
    static std::string FileName(const std::string& readMode, std::int32_t exposureMs);

    // Writes the master dark safely under its name, making the directory if need be.
    // Throws FileError.
    std::filesystem::path save(const FitsPicture& dark, std::int32_t exposureMs) const;

    struct Choice {
        std::optional<FitsPicture> dark;
        std::filesystem::path file;
        // Why a dark file that would have served was passed over (unreadable, other size).
        QString problem;
    };
    // The dark of `readMode` closest in exposure to `exposureMs`, within the tolerance, of
    // the light's size.
    Choice find(const std::string& readMode, std::int32_t exposureMs, int width, int height) const;

private:
    std::filesystem::path directory_;
};

} // namespace lumenvale
