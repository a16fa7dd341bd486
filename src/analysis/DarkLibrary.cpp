// Naming, saving and choosing master darks and flats.
#include "analysis/DarkLibrary.h"

#include "platform/Errors.h"

#include <algorithm>
#include <cmath>
#include <system_error>

namespace lumenvale {

namespace {

// The mode as it goes into a file name: "2x1-Binned".
std::string ModeInName(const std::string& readMode) {
    std::string mode;
    for (const char c : readMode) {
        mode += c == ' ' ? '-' : c;
    }
    return mode;
}

} // namespace

std::string DarkLibrary::FileName(const std::string& readMode, std::int32_t exposureMs) {
    return "dark-" + ModeInName(readMode) + "-" + std::to_string(exposureMs) + "ms.fits";
}

std::string DarkLibrary::FlatFileName(const std::string& readMode) {
    return "flat-" + ModeInName(readMode) + ".fits";
}

std::filesystem::path DarkLibrary::save(const FitsPicture& dark, std::int32_t exposureMs) const {
    return write(dark, FileName(dark.header.readMode, exposureMs));
}

std::filesystem::path DarkLibrary::saveFlat(const FitsPicture& flat) const {
    return write(flat, FlatFileName(flat.header.readMode));
}

std::filesystem::path DarkLibrary::write(const FitsPicture& picture,
                                         const std::string& name) const {
    std::error_code error;
    std::filesystem::create_directories(directory_, error);
    if (error) {
        throw FileError(directory_, error.message());
    }
    std::filesystem::path file = directory_ / name;
    picture.write(file);
    return file;
}

DarkLibrary::Candidates DarkLibrary::darks(const std::string& readMode) const {
    const std::string prefix = "dark-" + ModeInName(readMode) + "-";
    Candidates found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory_, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0 || entry.path().extension() != ".fits") {
            continue;
        }
        // The exposure is read from the name; the header is checked once the file is read.
        const double darkMs = std::atof(name.substr(prefix.size()).c_str());
        if (darkMs > 0) {
            found.emplace_back(darkMs, entry.path());
        }
    }
    return found;
}

DarkLibrary::Choice DarkLibrary::find(const std::string& readMode, std::int32_t exposureMs,
                                      int width, int height) const {
    Candidates candidates;
    for (const auto& [darkMs, file] : darks(readMode)) {
        const double off = std::abs(darkMs - exposureMs);
        if (off <= ExposureTolerance * std::max<double>(exposureMs, 1)) {
            candidates.emplace_back(off, file);
        }
    }
    return First(std::move(candidates), readMode, width, height);
}

DarkLibrary::Choice DarkLibrary::findShortest(const std::string& readMode, int width,
                                              int height) const {
    return First(darks(readMode), readMode, width, height);
}

DarkLibrary::Choice DarkLibrary::findFlat(const std::string& readMode, int width,
                                          int height) const {
    const std::filesystem::path file = directory_ / FlatFileName(readMode);
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
        return {};
    }
    return First({{0, file}}, readMode, width, height);
}

DarkLibrary::Choice DarkLibrary::First(Candidates candidates, const std::string& readMode,
                                       int width, int height) {
    std::sort(candidates.begin(), candidates.end());
    Choice choice;
    for (const auto& [key, file] : candidates) {
        try {
            FitsPicture picture = FitsPicture::read(file);
            if (picture.header.readMode != readMode) {
                choice.problem = QStringLiteral("%1 is of another mode (%2)")
                                     .arg(QString::fromStdString(file.filename().string()),
                                          QString::fromStdString(picture.header.readMode));
            } else if (picture.picture.width != width || picture.picture.height != height) {
                choice.problem = QStringLiteral("%1 is %2 x %3, the frames %4 x %5")
                                     .arg(QString::fromStdString(file.filename().string()))
                                     .arg(picture.picture.width)
                                     .arg(picture.picture.height)
                                     .arg(width)
                                     .arg(height);
            } else {
                choice.dark = std::move(picture);
                choice.file = file;
                return choice;
            }
        } catch (const FileError& failure) {
            choice.problem = QStringLiteral("%1 cannot be read: %2")
                                 .arg(QString::fromStdString(file.filename().string()),
                                      QString::fromStdString(failure.reason()));
        }
    }
    return choice;
}

} // namespace lumenvale
