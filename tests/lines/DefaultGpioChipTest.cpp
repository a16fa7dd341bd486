// The gpiochip of the Raspberry Pi header found by its label among the chips of a machine, and
// listed first.
#include "support/FakeLineCalls.h"
#include "support/TempDirTest.h"

#include "lines/LinePorts.h"

#include <gtest/gtest.h>

#include <fstream>

namespace lumenvale::test {
namespace {

using DefaultGpioChipTest = TempDirTest;

TEST_F(DefaultGpioChipTest, IsTheHeaderChipByItsLabelWhateverItsNumberElseGpiochip0) {
    struct Case {
        const char* machine;
        std::map<std::string, std::string> labels; // the chips there, by name
        const char* chip;
    };
    const Case cases[] = {
        {"Pi 5, older kernel",
         {{"gpiochip0", "gpio-brcmstb@107d508500"},
          {"gpiochip1", "gpio-brcmstb@107d508500"},
          {"gpiochip4", "pinctrl-rp1"}},
         "gpiochip4"},
        {"Pi 5, newer kernel",
         {{"gpiochip0", "pinctrl-rp1"}, {"gpiochip10", "gpio-brcmstb@107d508500"}},
         "gpiochip0"},
        {"Pi 4's after another",
         {{"gpiochip0", "gpio-mockup-A"}, {"gpiochip1", "pinctrl-bcm2711"}},
         "gpiochip1"},
        {"Pi 3's after another",
         {{"gpiochip0", "gpio-mockup-A"}, {"gpiochip2", "pinctrl-bcm2835"}},
         "gpiochip2"},
        {"PC with a USB GPIO board",
         {{"gpiochip0", "INT34C5:00"}, {"gpiochip1", "ftdi-cbus"}},
         "gpiochip0"},
        {"no chip at all", {}, "gpiochip0"},
    };
    for (const Case& c : cases) {
        const std::filesystem::path dev = dir / c.machine;
        std::filesystem::create_directory(dev);
        FakeGpio gpio;
        for (const auto& [name, label] : c.labels) {
            std::ofstream(dev / name).put('\n');
            gpio.labels[(dev / name).string()] = label;
        }
        FakeTty tty;
        FakeHid hid;
        FakeFtdi ftdi;
        LineCalls calls{tty, hid, ftdi, gpio};
        const std::string chip = (dev / c.chip).string();
        EXPECT_EQ(DefaultGpioChip(gpio, dev), chip) << c.machine;
        const std::vector<LineDevice> listed = FindLineDevices(LineAdapter::Gpio, calls, dev);
        EXPECT_EQ(listed.size(), c.labels.size()) << c.machine;
        if (!listed.empty()) {
            EXPECT_EQ(listed.front().device, chip) << c.machine << ": offered first";
        }
    }
}

} // namespace
} // namespace lumenvale::test
