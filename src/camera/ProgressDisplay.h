// The exposure progress bar as the timing code drives it.
#pragma once

namespace lumenvale {

class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    virtual void setProgressMax(float max) = 0;
    virtual void setProgressValue(float value) = 0;
};

} // namespace lumenvale
