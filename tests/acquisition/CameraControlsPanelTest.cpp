// The camera controls panel over a fake camera: each kind of control gets its widget, greyed
// when it cannot be set now; a change is read back from the camera, so a control another one
// made active becomes settable; a refusal says why; "Camera defaults" gives the driver's values.
#include "acquisition/dialog/CameraControlsPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <algorithm>
#include <map>

using namespace lumenvale;

namespace {

constexpr std::int64_t Manual = 1;
constexpr std::int64_t AperturePriority = 3;

// A camera whose exposure counts only while its automatic exposure is off, as a UVC one's.
class FakeCamera : public CameraControlSet {
public:
    std::vector<CameraControl> list;
    std::map<std::uint32_t, QString> refusals;
    std::vector<FrameInterval> intervals;
    std::optional<FrameInterval> interval;
    std::vector<std::pair<std::uint32_t, std::int64_t>> sets;

    std::vector<CameraControl> controls() override {
        CameraControl* automatic = find(V4L2_CID_EXPOSURE_AUTO);
        CameraControl* exposure = find(V4L2_CID_EXPOSURE_ABSOLUTE);
        if (automatic != nullptr && exposure != nullptr) {
            exposure->inactive = automatic->value != Manual;
        }
        return list;
    }
    std::optional<QString> set(std::uint32_t id, std::int64_t value) override {
        sets.emplace_back(id, value);
        if (const auto refused = refusals.find(id); refused != refusals.end()) {
            return refused->second;
        }
        find(id)->value = value;
        return std::nullopt;
    }
    std::vector<FrameInterval> frameIntervals() override { return intervals; }
    std::optional<FrameInterval> frameInterval() override { return interval; }
    std::optional<QString> setFrameInterval(FrameInterval wanted) override {
        interval = wanted;
        return std::nullopt;
    }

    CameraControl* find(std::uint32_t id) {
        const auto it = std::find_if(list.begin(), list.end(),
                                     [id](const CameraControl& c) { return c.id == id; });
        return it == list.end() ? nullptr : &*it;
    }
};

CameraControl integer(std::uint32_t id, const char* name, std::int64_t value,
                      std::int64_t defaultValue) {
    CameraControl c;
    c.id = id;
    c.name = QString::fromLatin1(name);
    c.maximum = 1000;
    c.value = value;
    c.defaultValue = defaultValue;
    return c;
}

// Automatic exposure (a menu, manual now) and the exposure it decides.
FakeCamera exposureCamera() {
    FakeCamera camera;
    CameraControl automatic =
        integer(V4L2_CID_EXPOSURE_AUTO, "Auto Exposure", Manual, AperturePriority);
    automatic.kind = CameraControl::Kind::Menu;
    automatic.maximum = 3;
    automatic.choices = {{Manual, QStringLiteral("Manual Mode")},
                         {AperturePriority, QStringLiteral("Aperture Priority Mode")}};
    camera.list = {automatic, integer(V4L2_CID_EXPOSURE_ABSOLUTE, "Exposure (Absolute)", 300, 156),
                   integer(V4L2_CID_GAIN, "Gain", 10, 0)};
    return camera;
}

template <typename W> W& widget(QDialog& panel, std::uint32_t id, const char* suffix = "") {
    auto* found =
        panel.findChild<W*>(CameraControlsPanel::rowName(id) + QString::fromLatin1(suffix));
    EXPECT_NE(found, nullptr) << CameraControlsPanel::rowName(id).toStdString() << suffix;
    return *found;
}

struct CameraControlsPanelTest : ::testing::Test {
    KeptCameraSettings kept;
    int keptChanges = 0;
};

} // namespace

// Each kind gets its widget; one that cannot be set now is greyed and still shows its value.
TEST_F(CameraControlsPanelTest, EachKindOfControlHasItsWidgetGreyedWhenItCannotBeSet) {
    enum class Flag { None, ReadOnly, Inactive, Grabbed };
    struct Case {
        CameraControl::Kind kind;
        Flag flag;
        const char* widgetClass;
        bool enabled;
    };
    const std::vector<Case> cases = {
        {CameraControl::Kind::Integer, Flag::None, "QSlider", true},
        {CameraControl::Kind::Integer, Flag::ReadOnly, "QSlider", false},
        {CameraControl::Kind::Integer, Flag::Inactive, "QSlider", false},
        {CameraControl::Kind::Integer, Flag::Grabbed, "QSlider", false},
        {CameraControl::Kind::Boolean, Flag::None, "QCheckBox", true},
        {CameraControl::Kind::Boolean, Flag::Inactive, "QCheckBox", false},
        {CameraControl::Kind::Menu, Flag::None, "QComboBox", true},
        {CameraControl::Kind::Menu, Flag::Grabbed, "QComboBox", false},
        {CameraControl::Kind::IntegerMenu, Flag::None, "QComboBox", true},
        {CameraControl::Kind::IntegerMenu, Flag::ReadOnly, "QComboBox", false},
        {CameraControl::Kind::Button, Flag::None, "QPushButton", true},
        {CameraControl::Kind::Button, Flag::Grabbed, "QPushButton", false},
    };
    FakeCamera camera;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        CameraControl c = integer(0x00980900 + std::uint32_t(i), "Control", 1, 0);
        c.kind = cases[i].kind;
        c.choices = {{0, QStringLiteral("zero")}, {1, QStringLiteral("one")}};
        c.readOnly = cases[i].flag == Flag::ReadOnly;
        c.inactive = cases[i].flag == Flag::Inactive;
        c.grabbed = cases[i].flag == Flag::Grabbed;
        camera.list.push_back(c);
    }
    CameraSettingsEditor editor(camera, kept, nullptr);
    CameraControlsPanel panel(nullptr, editor);
    EXPECT_EQ(panel.findChild<QComboBox*>(QStringLiteral("FrameRate")), nullptr)
        << "a camera with one frame rate offers no choice";
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& shown = widget<QWidget>(panel, camera.list[i].id);
        EXPECT_STREQ(shown.metaObject()->className(), cases[i].widgetClass);
        EXPECT_EQ(shown.isEnabled(), cases[i].enabled);
        if (cases[i].flag == Flag::Inactive) {
            EXPECT_TRUE(shown.toolTip().contains(QStringLiteral("nactive")));
        }
        if (const auto* slider = qobject_cast<const QSlider*>(&shown)) {
            EXPECT_EQ(slider->value(), 1);
            EXPECT_EQ(widget<QSpinBox>(panel, camera.list[i].id, "Value").isEnabled(),
                      cases[i].enabled);
        } else if (const auto* list = qobject_cast<const QComboBox*>(&shown)) {
            EXPECT_EQ(list->currentText(), QStringLiteral("one"));
        } else if (const auto* box = qobject_cast<const QCheckBox*>(&shown)) {
            EXPECT_TRUE(box->isChecked());
        }
    }
}

// A change is read back from the camera: the automatic exposure on greys the exposure, off
// again makes it settable; a value, a refusal and the frame rate are kept or told.
TEST_F(CameraControlsPanelTest, EveryChangeIsReadBackAndKept) {
    FakeCamera camera = exposureCamera();
    camera.intervals = {{1, 5}, {1, 30}};
    camera.interval = FrameInterval{1, 30};
    camera.refusals[V4L2_CID_GAIN] = QStringLiteral("Invalid argument");
    CameraSettingsEditor editor(camera, kept, [this] { ++keptChanges; });
    CameraControlsPanel panel(nullptr, editor);
    auto& mode = widget<QComboBox>(panel, V4L2_CID_EXPOSURE_AUTO);
    auto& exposure = widget<QSlider>(panel, V4L2_CID_EXPOSURE_ABSOLUTE);
    ASSERT_TRUE(exposure.isEnabled());

    QTest::keyClick(&mode, Qt::Key_Down);
    EXPECT_EQ(camera.find(V4L2_CID_EXPOSURE_AUTO)->value, AperturePriority);
    EXPECT_FALSE(exposure.isEnabled()) << "the automatic exposure decides it now";
    QTest::keyClick(&mode, Qt::Key_Up);
    EXPECT_TRUE(exposure.isEnabled());

    QTest::keyClick(&exposure, Qt::Key_Right);
    EXPECT_EQ(camera.find(V4L2_CID_EXPOSURE_ABSOLUTE)->value, 301);
    EXPECT_EQ(widget<QSpinBox>(panel, V4L2_CID_EXPOSURE_ABSOLUTE, "Value").value(), 301);
    EXPECT_EQ(kept.values[V4L2_CID_EXPOSURE_ABSOLUTE], 301);

    auto* status = panel.findChild<QLabel*>(QStringLiteral("PanelStatus"));
    EXPECT_TRUE(status->isHidden());
    widget<QSpinBox>(panel, V4L2_CID_GAIN, "Value").setValue(20);
    EXPECT_EQ(status->text(), QStringLiteral("Gain: Invalid argument"));
    EXPECT_FALSE(status->isHidden());
    EXPECT_EQ(widget<QSlider>(panel, V4L2_CID_GAIN).value(), 10) << "as the camera has it";
    EXPECT_EQ(kept.values.count(V4L2_CID_GAIN), 0U);

    auto* rate = panel.findChild<QComboBox*>(QStringLiteral("FrameRate"));
    ASSERT_NE(rate, nullptr);
    EXPECT_EQ(rate->currentText(), QStringLiteral("30 frames/s"));
    QTest::keyClick(rate, Qt::Key_Up);
    EXPECT_EQ(camera.interval, (FrameInterval{1, 5}));
    EXPECT_EQ(kept.interval, (FrameInterval{1, 5}));
    EXPECT_EQ(rate->currentText(), QStringLiteral("5 frames/s"));
    EXPECT_TRUE(status->isHidden()) << "the last change was taken";
    EXPECT_EQ(keptChanges, 4);
}

TEST_F(CameraControlsPanelTest, CameraDefaultsGiveTheDriversValuesAndForgetTheKeptOnes) {
    FakeCamera camera = exposureCamera();
    kept.prepared = true;
    kept.turnedOff = {QStringLiteral("Auto Exposure")};
    kept.values = {{V4L2_CID_EXPOSURE_AUTO, Manual}, {V4L2_CID_GAIN, 10}};
    CameraSettingsEditor editor(camera, kept, nullptr);
    CameraControlsPanel panel(nullptr, editor);
    auto* turnedOff = panel.findChild<QLabel*>(QStringLiteral("TurnedOff"));
    EXPECT_FALSE(turnedOff->isHidden());
    EXPECT_TRUE(turnedOff->text().contains(QStringLiteral("Auto Exposure")));

    panel.findChild<QPushButton*>(QStringLiteral("CameraDefaults"))->click();
    EXPECT_EQ(camera.find(V4L2_CID_EXPOSURE_AUTO)->value, AperturePriority);
    EXPECT_EQ(camera.find(V4L2_CID_GAIN)->value, 0);
    EXPECT_EQ(camera.find(V4L2_CID_EXPOSURE_ABSOLUTE)->value, 156);
    EXPECT_EQ(widget<QComboBox>(panel, V4L2_CID_EXPOSURE_AUTO).currentText(),
              QStringLiteral("Aperture Priority Mode"));
    EXPECT_FALSE(widget<QSlider>(panel, V4L2_CID_EXPOSURE_ABSOLUTE).isEnabled());
    EXPECT_EQ(widget<QSlider>(panel, V4L2_CID_GAIN).value(), 0);
    EXPECT_TRUE(kept.values.empty());
    EXPECT_TRUE(turnedOff->isHidden());
}
