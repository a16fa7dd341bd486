// Naming, saving and choosing master darks.
#include "analysis/DarkLibrary.h"

#include "platform/Errors.h"

#include <cmath>
#include <system_error>
#include <vector>

namespace lumenvale {

std::string DarkLibrary::FileName(const std::string& readMode, std::int32_t exposureMs) {
    std::string mode;
    for (const char c : readMode) {
        mode += c == ' ' ? '-' : c;
    }
    return "dark-" + mode + "-" + std::to_string(exposureMs) + "ms.fits";
}

std::filesystem::path DarkLibrary::save(const FitsPicture& dark, std::int32_t exposureMs) const {
    std::error_code error;
    std::filesystem::create_directories(directory_, error);
    if (error) {
        throw FileError(directory_, error.message());
    }
    std::filesystem::path file = directory_ / FileName(dark.header.readMode, exposureMs);
    dark.write(file);
    return file;
}

DarkLibrary::Choice DarkLibrary::find(const std::string& readMode, std::int32_t exposureMs,
                                      int width, int height) const {
    Choice choice;
    const std::string prefix = FileName(readMode, 0).substr(0, 6 + readMode.size());
    std::vector<std::pair<double, std::filesystem::path>> candidates;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory_, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0 || entry.path().extension() != ".fits") {
            continue;
        }
        // The exposure is read from the name; the header is checked once the file is read.
        const std::string number = name.substr(prefix.size());
        const double darkMs = std::atof(number.c_str());
        const double off = std::abs(darkMs - exposureMs);
        if (darkMs > 0 && off <= ExposureTolerance * std::max<double>(exposureMs, 1)) {
            candidates.emplace_back(off, entry.path());
        }
    }
    std::sort(candidates.begin(), candidates.end());
    for (const auto& [off, file] : candidates) {
        try {
            FitsPicture dark = FitsPicture::read(file);
            if (dark.header.readMode != readMode) {
                choice.problem = QStringLiteral("%1 is a dark of another mode (%2)")
                                     .arg(QString::fromStdString(file.filename().string()),
                                          QString::fromStdString(dark.header.readMode));
            } else if (dark.picture.width != width || dark.picture.height != height) {
                choice.problem = QStringLiteral("%1 is %2 x %3, the frames %4 x %5")
                                     .arg(QString::fromStdString(file.filename().string()))
                                     .arg(dark.picture.width)
                                     .arg(dark.picture.height)
                                     .arg(width)
                                     .arg(height);
            } else {
                choice.dark = std::move(dark);
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
