// The acquisition library (to be completed).
#include "platform/acquisition/AcquisitionLibrary.h"

namespace lumenvale {

AcquisitionLibrary::AcquisitionLibrary(LineMonitor& lines, const Clock& clock)
    : lines_(lines), clock_(clock) {}

AcquisitionLibrary::~AcquisitionLibrary() = default;

std::int32_t AcquisitionLibrary::TWAIN_AcquireToFilename(QWidget* /*parent*/,
                                                         const std::string& /*fileName*/) {
    return AcquireNoSource;
}

std::int32_t AcquisitionLibrary::TWAIN_SelectImageSource(QWidget* /*parent*/) {
    return 0;
}

} // namespace lumenvale
