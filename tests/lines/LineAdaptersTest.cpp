// The four USB-serial, LXUSB, FTDI and GPIO adapters on their fake devices: the line histories
// of a binned frame with Amp off and of a hi-res frame at the outputs as the mapping says, the
// outputs set right after opening, the refusals, and a device pulled out mid-run. The GPIO cases
// run twice: straight to the fake gpiochip, and through the libgpiod 2.x calls over a fake of
// that library, which reaches the same fake gpiochip.
#include "support/FakeLineCalls.h"
#include "support/fake_gpiod2/FakeGpiod2.h"

#include "lines/CameraStates.h"
#include "lines/GpioCalls.h"
#include "lines/LineMonitor.h"
#include "lines/LinePorts.h"
#include "lines/PpdevSyscalls.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <unistd.h>

namespace lumenvale::test {
namespace {

using States = std::vector<std::uint8_t>;
using Outputs = std::vector<unsigned>;

const States BinnedAmpOff{0x27, 0x37, 0x14, 0x34, 0x30, 0x37};
const States Hires{0x27, 0x37, 0x14, 0x34, 0x34, 0x35, 0x37};

class TickClock : public Clock {
public:
    std::int32_t timeGetTime() const override { return ++now; }
    mutable std::int32_t now = 0;
};

// What the GPIO adapter's calls reach the fake gpiochip through.
enum class GpioRoute { Direct, Libgpiod2 };

struct Rig : FakeLineDevices {
    explicit Rig(GpioRoute route = GpioRoute::Direct)
        : libgpiod2(route == GpioRoute::Libgpiod2 ? MakeLibgpiod2Calls(gpio) : nullptr) {}

    TickClock clock;
    LineMonitor monitor;
    std::unique_ptr<GpioCalls> libgpiod2;
    LineCalls routed{tty, hid, ftdi, libgpiod2 ? *libgpiod2 : gpio};

    static std::string Device(LineAdapter adapter) { return path(adapter); }

    std::unique_ptr<PortIo> make(LineAdapter adapter, const std::string& mapping = {}) {
        LinesChoice choice{adapter, path(adapter), DefaultLineMapping(adapter)};
        if (!mapping.empty()) {
            choice.mapping = *ParseLineMapping(mapping);
        }
        return MakeLinePort(choice, monitor, clock, routed);
    }
};

// The GPIO cases of a table, to run through the libgpiod 2.x calls.
template <typename Case, std::size_t N> std::vector<Case> ThroughLibgpiod2(const Case (&cases)[N]) {
    std::vector<Case> gpio;
    for (Case c : cases) {
        if (c.adapter == LineAdapter::Gpio) {
            c.route = GpioRoute::Libgpiod2;
            gpio.push_back(c);
        }
    }
    return gpio;
}

unsigned Gpio(std::initializer_list<unsigned> high) {
    unsigned bits = 0;
    for (const unsigned offset : high) {
        bits |= 1U << offset;
    }
    return bits;
}

struct HistoryCase {
    const char* name;
    LineAdapter adapter;
    const char* mapping; // empty: the default
    States states;
    unsigned afterOpening; // with state 0 on the lines
    Outputs outputs;       // after each state
    GpioRoute route = GpioRoute::Direct;
    int reopenBefore = -1; // closes and opens the adapter again before this write
};

// The requests a write sends: none when no output changes (a USB round trip each, on the
// camera's time); else one per changed modem line at most on a tty, one report, byte or request
// on the others.
bool RequestsFit(LineAdapter adapter, unsigned before, unsigned after, int requests) {
    if (before == after) {
        return requests == 0;
    }
    if (adapter == LineAdapter::Serial) {
        return requests >= 1 && requests <= std::popcount(before ^ after);
    }
    return requests == 1;
}

class LineAdapterHistoryTest : public ::testing::TestWithParam<HistoryCase> {};

TEST_P(LineAdapterHistoryTest, OutputsFollowTheirDataLinesFromTheMomentOfOpening) {
    const HistoryCase& c = GetParam();
    Rig rig(c.route);
    auto port = rig.make(c.adapter, c.mapping);
    ASSERT_EQ(port->InitializeWinIo(), 1) << port->lastError();
    FakeLineDevice& device = rig.device(c.adapter);
    EXPECT_EQ(device.outputs, c.afterOpening);

    Outputs seen;
    for (std::size_t i = 0; i < c.states.size(); ++i) {
        if (static_cast<int>(i) == c.reopenBefore) {
            ASSERT_EQ(port->ShutdownWinIo(), 1);
            ASSERT_EQ(port->InitializeWinIo(), 1) << port->lastError();
        }
        const unsigned before = device.outputs;
        const int requests = device.requests;
        EXPECT_EQ(port->SetPortVal(888, c.states[i], 1), 1);
        seen.push_back(device.outputs);
        EXPECT_TRUE(RequestsFit(c.adapter, before, device.outputs, device.requests - requests))
            << "write " << i << " sent " << device.requests - requests << " requests";
    }
    EXPECT_EQ(seen, c.outputs);
    EXPECT_EQ(rig.monitor.states(), c.states) << "every write is published";
    EXPECT_TRUE(port->writeError().empty());
}

std::string CaseName(const ::testing::TestParamInfo<HistoryCase>& info) {
    return info.param.name;
}

// Serial outputs: bit 0 RTS, bit 1 DTR, bit 2 TXD in break; an asserted line is 1.
constexpr unsigned R = FakeTty::Rts, D = FakeTty::Dtr, B = FakeTty::Break;
const HistoryCase SerialHistories[] = {
    {"BinnedAmpOff", LineAdapter::Serial, "", BinnedAmpOff, R | D, {0, 0, R, R, R | D, 0}},
    {"Hires", LineAdapter::Serial, "", Hires, R | D, {0, 0, R, R, R, 0, 0}},
    {"HiresUninvertedWithBreakOnD4",
     LineAdapter::Serial,
     "RTS=D0 DTR=D1 TXD=!D4",
     Hires,
     B,
     {R | D | B, R | D, 0, 0, 0, R, R | D}},
    // Amp on, the exposure-state write moves no modem line; a tty raises RTS and DTR again
    // when opened, so the state is set whole once it is.
    {"AmpOnTwiceAndReopened",
     LineAdapter::Serial,
     "",
     {0x27, 0x37, 0x14, 0x34, 0x34, 0x37, 0x37},
     R | D,
     {0, 0, R, R, R, 0, 0},
     GpioRoute::Direct,
     6},
};
INSTANTIATE_TEST_SUITE_P(Serial, LineAdapterHistoryTest, ::testing::ValuesIn(SerialHistories),
                         CaseName);

// LXUSB reports: Frame1 0x01, Frame2 0x02, Shutter 0x04, amplifier 0x08, LED red 0x10 during
// the exposure states, LED on 0x20 throughout.
const HistoryCase LxusbHistories[] = {
    {"BinnedAmpOff",
     LineAdapter::Lxusb,
     "",
     BinnedAmpOff,
     0x20,
     {0x2B, 0x2F, 0x2C, 0x3C, 0x34, 0x2F}},
    {"Hires", LineAdapter::Lxusb, "", Hires, 0x20, {0x2B, 0x2F, 0x2C, 0x3C, 0x3C, 0x2D, 0x2F}},
    {"HiresShutterInverted",
     LineAdapter::Lxusb,
     "Frame1=D0 Frame2=D1 Shutter=!D4 Amplifier=D2",
     Hires,
     0x24,
     {0x2F, 0x2B, 0x28, 0x38, 0x38, 0x29, 0x2B}},
    {"SameStateTwiceAndReopened",
     LineAdapter::Lxusb,
     "",
     {0x27, 0x27, 0x37, 0x37},
     0x20,
     {0x2B, 0x2B, 0x2F, 0x2F},
     GpioRoute::Direct,
     3},
};
INSTANTIATE_TEST_SUITE_P(Lxusb, LineAdapterHistoryTest, ::testing::ValuesIn(LxusbHistories),
                         CaseName);

const HistoryCase FtdiHistories[] = {
    {"BinnedAmpOff", LineAdapter::Ftdi, "", BinnedAmpOff, 0, {0x27, 0x37, 0x14, 0x34, 0x30, 0x37}},
    {"Hires", LineAdapter::Ftdi, "", Hires, 0, {0x27, 0x37, 0x14, 0x34, 0x34, 0x35, 0x37}},
    {"HiresPinsSwappedAndInverted",
     LineAdapter::Ftdi,
     "D0=!D1 D1=D0 D2=- D3=- D4=- D5=- D6=- D7=-",
     Hires,
     0x01,
     {0x02, 0x02, 0x01, 0x01, 0x01, 0x03, 0x02}},
    {"SameStateTwiceAndReopened",
     LineAdapter::Ftdi,
     "",
     {0x27, 0x27, 0x37, 0x37},
     0,
     {0x27, 0x27, 0x37, 0x37},
     GpioRoute::Direct,
     3},
};
INSTANTIATE_TEST_SUITE_P(Ftdi, LineAdapterHistoryTest, ::testing::ValuesIn(FtdiHistories),
                         CaseName);

// GPIO outputs: the offsets of the lines that are high; default 17 D0, 27 D1, 22 D2, 23 D4,
// 24 D5.
const unsigned Pulse = Gpio({17, 27, 22, 24}), Readout = Gpio({17, 27, 22, 23, 24}),
               Settled = Gpio({22, 23}), AmpOn = Gpio({22, 23, 24}), AmpOff = Gpio({23, 24}),
               Field1 = Gpio({17, 22, 23, 24});
const HistoryCase GpioHistories[] = {
    {"BinnedAmpOff",
     LineAdapter::Gpio,
     "",
     BinnedAmpOff,
     0,
     {Pulse, Readout, Settled, AmpOn, AmpOff, Readout}},
    {"Hires",
     LineAdapter::Gpio,
     "",
     Hires,
     0,
     {Pulse, Readout, Settled, AmpOn, AmpOn, Field1, Readout}},
    {"HiresTwoLinesOneInverted",
     LineAdapter::Gpio,
     "5=!D0 6=D1 7=-",
     Hires,
     Gpio({5}),
     {Gpio({6}), Gpio({6}), Gpio({5}), Gpio({5}), Gpio({5}), 0, Gpio({6})}},
    {"SameStateTwiceAndReopened",
     LineAdapter::Gpio,
     "",
     {0x27, 0x27, 0x37, 0x37},
     0,
     {Pulse, Pulse, Readout, Readout},
     GpioRoute::Direct,
     3},
};
INSTANTIATE_TEST_SUITE_P(Gpio, LineAdapterHistoryTest, ::testing::ValuesIn(GpioHistories),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Libgpiod2, LineAdapterHistoryTest,
                         ::testing::ValuesIn(ThroughLibgpiod2(GpioHistories)), CaseName);

TEST(LineAdapterTest, OutputsTakeTheStateWrittenBeforeOpeningAndTheLedGoesOutOnClosing) {
    Rig rig;
    auto serial = rig.make(LineAdapter::Serial);
    EXPECT_EQ(serial->SetPortVal(888, LineReadout, 1), 0);
    EXPECT_NE(serial->writeError().find("not open"), std::string::npos);
    ASSERT_EQ(serial->InitializeWinIo(), 1);
    EXPECT_EQ(rig.tty.outputs, 0U) << "opening raised RTS and DTR; 0x37 lowers them at once";
    EXPECT_EQ(rig.tty.calls,
              (std::vector<std::string>{"open /dev/ttyUSB0", "TIOCMGET", "TIOCMBIC"}));

    auto lxusb = rig.make(LineAdapter::Lxusb);
    ASSERT_EQ(lxusb->InitializeWinIo(), 1);
    lxusb->SetPortVal(888, LineExposeAmpOff, 1);
    EXPECT_EQ(lxusb->ShutdownWinIo(), 1);
    EXPECT_EQ(rig.hid.outputs, 0x04U) << "the shutter stays as it was, the LED goes out";

    auto ftdi = rig.make(LineAdapter::Ftdi);
    ASSERT_EQ(ftdi->InitializeWinIo(), 1);
    EXPECT_EQ(rig.ftdi.bitmodeMask, 0xffU);
    EXPECT_EQ(rig.ftdi.bitmode, 0x01U) << "bit-bang";

    auto gpio = rig.make(LineAdapter::Gpio);
    ASSERT_EQ(gpio->InitializeWinIo(), 1);
    EXPECT_EQ(rig.gpio.requested, (std::vector<unsigned>{17, 27, 22, 23, 24}));
}

struct RefusalCase {
    const char* name;
    LineAdapter adapter;
    std::function<void(Rig&)> setUp;
    const char* words;
    const char* mapping = ""; // empty: the default
    GpioRoute route = GpioRoute::Direct;
};

class LineAdapterRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(LineAdapterRefusalTest, RefusesToOpenSayingWhyAndLeavesNothingOpen) {
    const RefusalCase& c = GetParam();
    Rig rig(c.route);
    c.setUp(rig);
    auto port = rig.make(c.adapter, c.mapping);
    EXPECT_EQ(port->InitializeWinIo(), 0);
    EXPECT_NE(port->lastError().find(c.words), std::string::npos) << port->lastError();
    EXPECT_EQ(port->SetPortVal(888, LinePulseStart, 1), 0);
    EXPECT_TRUE(rig.device(c.adapter).history.empty()) << "no output was moved";
    const auto& calls = rig.device(c.adapter).calls;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "close"), calls.size() > 1 ? 1 : 0)
        << "what was opened is closed";
}

const RefusalCase Refusals[] = {
    {"SerialPty", LineAdapter::Serial, [](Rig& r) { r.tty.failures["TIOCMGET"] = ENOTTY; },
     "has no modem lines"},
    {"SerialMissing", LineAdapter::Serial, [](Rig& r) { r.tty.failures["open"] = ENOENT; },
     "No device was found at the serial port /dev/ttyUSB0"},
    {"SerialPermission", LineAdapter::Serial, [](Rig& r) { r.tty.failures["open"] = EACCES; },
     "dialout group"},
    {"LxusbNotOne", LineAdapter::Lxusb, [](Rig& r) { r.hid.product = 0x1234; },
     "is not an LXUSB box"},
    {"LxusbPermission", LineAdapter::Lxusb, [](Rig& r) { r.hid.failures["open"] = EACCES; },
     "udev rule"},
    {"FtdiMissing", LineAdapter::Ftdi, [](Rig& r) { r.ftdi.failures["open"] = ENOENT; },
     "No device was found"},
    {"FtdiPermission", LineAdapter::Ftdi, [](Rig& r) { r.ftdi.failures["open"] = EACCES; },
     "udev rule"},
    {"FtdiClaimed", LineAdapter::Ftdi, [](Rig& r) { r.ftdi.failures["open"] = EBUSY; },
     "in use by another program"},
    {"GpioLineMissing", LineAdapter::Gpio, [](Rig& r) { r.gpio.lines = 24; },
     "has no line 27 (it has 24 lines)"},
    {"GpioLineInUse", LineAdapter::Gpio, [](Rig& r) { r.gpio.holders[22] = "spi0 CS0"; },
     "GPIO line 22 of /dev/gpiochip0 is in use by spi0 CS0"},
    {"GpioPermission", LineAdapter::Gpio, [](Rig& r) { r.gpio.failures["open"] = EACCES; },
     "gpio group"},
    {"GpioLineTwice", LineAdapter::Gpio, [](Rig&) {}, "are in use by another program",
     "17=D0 17=D1"},
};
INSTANTIATE_TEST_SUITE_P(Adapters, LineAdapterRefusalTest, ::testing::ValuesIn(Refusals),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Libgpiod2, LineAdapterRefusalTest,
                         ::testing::ValuesIn(ThroughLibgpiod2(Refusals)),
                         [](const auto& info) { return std::string(info.param.name); });

// Whatever error its library gives (libftdi 1.5 answers -1, read as EIO, to a chip pulled out),
// an adapter gone from the bus is said to be unplugged.
TEST(LineAdapterTest, AnAdapterPulledOutSaysSoOnEveryWriteAndTheMonitorStillSeesThem) {
    struct Pulled {
        LineAdapter adapter;
        GpioRoute route;
        int error;
    };
    for (const Pulled& p : {Pulled{LineAdapter::Serial, GpioRoute::Direct, ENODEV},
                            Pulled{LineAdapter::Serial, GpioRoute::Direct, EIO},
                            Pulled{LineAdapter::Lxusb, GpioRoute::Direct, ENODEV},
                            Pulled{LineAdapter::Lxusb, GpioRoute::Direct, EPIPE},
                            Pulled{LineAdapter::Ftdi, GpioRoute::Direct, ENODEV},
                            Pulled{LineAdapter::Ftdi, GpioRoute::Direct, EIO},
                            Pulled{LineAdapter::Gpio, GpioRoute::Direct, ENODEV},
                            Pulled{LineAdapter::Gpio, GpioRoute::Libgpiod2, ENODEV}}) {
        Rig rig(p.route);
        auto port = rig.make(p.adapter);
        ASSERT_EQ(port->InitializeWinIo(), 1);
        EXPECT_EQ(port->SetPortVal(888, LinePulseStart, 1), 1);
        rig.device(p.adapter).writesBeforeUnplug = 0;
        rig.device(p.adapter).unplugError = p.error;
        // A write that changes an output meets the unplugged device; after that the outputs
        // are unknown, so the same state again is sent whole and fails too.
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(port->SetPortVal(888, LineSettled, 1), 0);
            EXPECT_NE(port->writeError().find("No such device (it was unplugged)"),
                      std::string::npos)
                << port->writeError();
            EXPECT_NE(port->writeError().find(Rig::Device(p.adapter)), std::string::npos);
        }
        EXPECT_EQ(rig.monitor.states(), (States{LinePulseStart, LineSettled, LineSettled}));
    }
}

TEST(LineAdapterTest, APseudoTerminalIsRefusedByTheRealKernel) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    KernelPpdevSyscalls kernel;
    Rig rig;
    LineCalls calls{kernel, rig.hid, rig.ftdi, rig.gpio};
    auto port = MakeLinePort(
        {LineAdapter::Serial, ptsname(master), DefaultLineMapping(LineAdapter::Serial)},
        rig.monitor, rig.clock, calls);
    EXPECT_EQ(port->InitializeWinIo(), 0);
    EXPECT_NE(port->lastError().find("has no modem lines"), std::string::npos) << port->lastError();
    close(master);
}

TEST(LineAdapterTest, AMissingGpioChipIsRefusedByTheRealLibgpiod) {
    LibGpiodCalls libgpiod;
    EXPECT_EQ(libgpiod.open("/nonexistent/gpiochip0"), -ENOENT);
    Rig rig;
    LineCalls calls{rig.tty, rig.hid, rig.ftdi, libgpiod};
    auto port = MakeLinePort(
        {LineAdapter::Gpio, "/nonexistent/gpiochip0", DefaultLineMapping(LineAdapter::Gpio)},
        rig.monitor, rig.clock, calls);
    EXPECT_EQ(port->InitializeWinIo(), 0);
    EXPECT_NE(port->lastError().find("No device was found at the GPIO chip /nonexistent/gpiochip0"),
              std::string::npos)
        << port->lastError();
}

TEST(LineAdapterTest, TheChosenPortOpensTheAdapterChosenAtThatMoment) {
    Rig rig;
    LinesChoice choice{LineAdapter::Serial, "/dev/ttyUSB0",
                       DefaultLineMapping(LineAdapter::Serial)};
    ChosenPort port(rig.monitor, rig.clock, rig.calls, [&] { return choice; });
    ASSERT_EQ(port.InitializeWinIo(), 1);
    choice = {LineAdapter::Ftdi, Rig::Device(LineAdapter::Ftdi),
              DefaultLineMapping(LineAdapter::Ftdi)};
    port.SetPortVal(888, LineSettled, 1);
    EXPECT_EQ(rig.tty.outputs, FakeTty::Rts) << "an open adapter stays until it is closed";
    port.ShutdownWinIo();
    ASSERT_EQ(port.InitializeWinIo(), 1);
    port.SetPortVal(888, LineSettled, 1);
    EXPECT_EQ(rig.ftdi.outputs, LineSettled);
}

TEST(LineAdapterTest, MappingsReadBackAsWrittenAndNonsenseIsRefused) {
    for (const LineAdapter adapter : LineAdapters) {
        const LineMapping mapping = DefaultLineMapping(adapter);
        EXPECT_EQ(ParseLineMapping(FormatLineMapping(mapping)), mapping);
    }
    EXPECT_EQ(FormatLineMapping(DefaultLineMapping(LineAdapter::Serial)), "RTS=!D0 DTR=!D2 TXD=-");
    // The connect message names the mapping in use, the default one too.
    EXPECT_EQ(DescribeLineMapping(LineAdapter::Serial, DefaultLineMapping(LineAdapter::Serial)),
              "the default mapping RTS=!D0 DTR=!D2 TXD=-");
    EXPECT_EQ(DescribeLineMapping(LineAdapter::Serial, *ParseLineMapping("RTS=D0 DTR=D1")),
              "the mapping RTS=D0 DTR=D1");
    EXPECT_EQ(DescribeLineMapping(LineAdapter::Parallel, {}), "data lines D0 to D7 as written");
    for (const char* bad : {"RTS", "=D0", "RTS=D8", "RTS=!", "RTS=X0"}) {
        EXPECT_FALSE(ParseLineMapping(bad)) << bad;
    }
}

} // namespace
} // namespace lumenvale::test
