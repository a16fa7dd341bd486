// Turning a frame into a picture for the preview.
#include "frames/AcquiredFrame.h"

namespace lumenvale {

QImage AcquiredFrame::toImage() const {
    // Flipping while copying also detaches the picture from our buffer.
    const QImage view(pixels_.data(), Width, Height, int(RowBytes), QImage::Format_BGR888);
    return view.mirrored(false, true);
}

} // namespace lumenvale
