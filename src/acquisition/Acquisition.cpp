// Texts for acquisition results.
#include "acquisition/Acquisition.h"

namespace lumenvale {

QString DescribeAcquireResult(std::int32_t result) {
    switch (result) {
    case AcquireOk:
        return QStringLiteral("acquired");
    case AcquireCancelled:
        return QStringLiteral("the acquisition was cancelled");
    case AcquireNoSource:
        return QStringLiteral("the camera is not connected");
    case AcquireDeviceBusy:
        return QStringLiteral("the camera is busy (in use by another program)");
    case AcquirePermissionDenied:
        return QStringLiteral("permission to use the camera was denied");
    case AcquireNoFrameInTime:
        return QStringLiteral("the camera delivered no frame in time");
    case AcquireWriteFailed:
        return QStringLiteral("the frame file could not be written");
    case AcquireDamagedFrame:
        return QStringLiteral("the frame read out after the exposure was damaged");
    default:
        return QStringLiteral("the acquisition failed");
    }
}

} // namespace lumenvale
