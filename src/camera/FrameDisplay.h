// The viewer's image as the capture commands and the auto-save see it.
#pragma once

#include <QImage>

namespace lumenvale {

class FrameDisplay {
public:
    virtual ~FrameDisplay() = default;
    virtual void showPicture(const QImage& picture) = 0;
    virtual QImage Picture() const = 0;
};

} // namespace lumenvale
