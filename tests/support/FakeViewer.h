// The viewer as a list of the pictures it was given.
#pragma once

#include "camera/FrameDisplay.h"

#include <QImage>

#include <vector>

namespace lumenvale::test {

class FakeViewer : public FrameDisplay {
public:
    void showPicture(const QImage& picture) override { shown.push_back(picture); }
    QImage Picture() const override { return shown.empty() ? initial : shown.back(); }

    QImage initial = QImage(640, 480, QImage::Format_RGB888);
    std::vector<QImage> shown;
};

} // namespace lumenvale::test
