// The camera's own controls (gain, shutter, brightness, white balance, the automatic modes) and
// its frame rate, as the driver offers them; what the user chose for them, kept per camera; and
// the values that keep a long exposure from being fought by the camera's automatic modes.
#pragma once

#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumenvale {

class V4l2Calls;

struct CameraControl {
    enum class Kind {
        Integer,     // a slider with the value
        Boolean,     // a tick box
        Menu,        // a list of names
        IntegerMenu, // a list of numbers
        Button,      // an action with no value
    };
    struct Choice {
        std::int64_t value = 0; // the menu index the driver takes
        QString name;
        bool operator==(const Choice&) const = default;
    };

    std::uint32_t id = 0;
    Kind kind = Kind::Integer;
    QString name; // the driver's own
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    std::int64_t step = 1;
    std::int64_t defaultValue = 0;
    std::int64_t value = 0;
    std::vector<Choice> choices; // menus only, the entries the driver names
    bool readOnly = false;
    bool inactive = false; // counts for nothing now (an exposure while the automatic one runs)
    bool grabbed = false;  // held by the driver for the time being (while streaming)

    bool settable() const { return !readOnly && !grabbed; }
    // Menus and tick boxes switch the modes other values depend on: they are set first.
    bool switchesMode() const {
        return kind == Kind::Menu || kind == Kind::IntegerMenu || kind == Kind::Boolean;
    }
    bool operator==(const CameraControl&) const = default;
};

// A frame interval, seconds per frame as a fraction (1/5: five frames a second).
struct FrameInterval {
    std::uint32_t numerator = 0;
    std::uint32_t denominator = 0;

    double framesPerSecond() const { return numerator == 0 ? 0 : double(denominator) / numerator; }
    // "5 frames/s", "7.5 frames/s"
    QString describe() const;
    bool operator==(const FrameInterval&) const = default;
};

// What the user set for one camera, kept between runs of the program.
struct KeptCameraSettings {
    // The automatic modes were turned off at the camera's first use; never again after that.
    bool prepared = false;
    // The names of what that first use turned off, for the controls panel to tell.
    std::vector<QString> turnedOff;
    std::map<std::uint32_t, std::int64_t> values;
    std::optional<FrameInterval> interval;

    bool operator==(const KeptCameraSettings&) const = default;
};

// The controls of one camera: a webcam's, or the simulated camera's.
class CameraControlSet {
public:
    virtual ~CameraControlSet() = default;

    // Read afresh each time: changing one control may make another inactive.
    virtual std::vector<CameraControl> controls() = 0;
    // Nothing when the camera took the value; otherwise the reason it gives.
    virtual std::optional<QString> set(std::uint32_t id, std::int64_t value) = 0;
    // The frame intervals the camera offers for its picture now, slowest first; none when it
    // has no choice.
    virtual std::vector<FrameInterval> frameIntervals() { return {}; }
    virtual std::optional<FrameInterval> frameInterval() { return std::nullopt; }
    virtual std::optional<QString> setFrameInterval(FrameInterval /*interval*/) {
        return QStringLiteral("the camera has one frame rate only");
    }
};

// A V4L2 camera's controls through its open descriptor.
class V4l2ControlSet : public CameraControlSet {
public:
    // `pixelFormat`, `width` and `height`: the picture the frame intervals are asked for.
    V4l2ControlSet(V4l2Calls& calls, int fd, std::uint32_t pixelFormat = 0, int width = 0,
                   int height = 0);

    std::vector<CameraControl> controls() override;
    std::optional<QString> set(std::uint32_t id, std::int64_t value) override;
    std::vector<FrameInterval> frameIntervals() override;
    std::optional<FrameInterval> frameInterval() override;
    std::optional<QString> setFrameInterval(FrameInterval interval) override;

private:
    std::optional<CameraControl> query(std::uint32_t& id);
    V4l2Calls& calls_;
    int fd_;
    std::uint32_t pixelFormat_;
    int width_;
    int height_;
};

// What recognises a camera across unplugging and plugging in again: its driver, its card name
// and where it hangs on the bus (or its serial number, when the driver puts it there).
struct CameraIdentity {
    QString driver;
    QString card;
    QString bus;

    // "uvcvideo|USB Camera|usb-0000:00:14.0-1", the key its settings are kept under.
    QString key() const;
    // The identity of an open V4L2 camera; nothing when it does not answer VIDIOC_QUERYCAP.
    static std::optional<CameraIdentity> of(V4l2Calls& calls, int fd);
};

// The simulated camera's key.
inline const QString SimulatedCameraKey = QStringLiteral("simulated");

// The values that keep the camera from fighting a long exposure, among `controls` (those it has
// and may be set): the automatic exposure to manual, automatic gain, automatic white balance,
// backlight compensation, the exposure's priority over the frame rate and the driver's own
// noise reduction off.
std::vector<std::pair<std::uint32_t, std::int64_t>>
LongExposureValues(const std::vector<CameraControl>& controls);

// What applying a camera's kept settings did.
struct AppliedSettings {
    // Names of the controls turned off at the camera's first use ("Auto Exposure").
    std::vector<QString> turnedOff;
    // One line for each value the camera refused: "Gain 300: Invalid argument".
    std::vector<QString> refused;
    // `kept` changed (the first use was recorded, a refused value dropped); worth saving.
    bool keptChanged = false;
};

// Sets `camera` up as kept: at its first use the long-exposure values (recorded in `kept`);
// then the kept frame interval and the kept values, the controls that switch modes (menus and
// tick boxes) first so that the values that depend on them are active when set.
AppliedSettings ApplyKeptSettings(CameraControlSet& camera, KeptCameraSettings& kept);

} // namespace lumenvale
