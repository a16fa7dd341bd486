// The ppdev camera port on stand-in kernel calls: the order of the calls, the reasons given
// to the user when the port cannot be had, and the line monitor seeing every write.
#include "lines/PpdevPort.h"
#include "lines/LineMonitor.h"
#include "lines/PpdevSyscalls.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <map>
#include <string>
#include <sys/ioctl.h>
#include <utility>
#include <vector>

using namespace lumenvale;

namespace {

class FixedClock : public Clock {
public:
    std::int32_t timeGetTime() const override { return now; }
    std::int32_t now = 4242;
};

// Records the calls by name; a call listed in `failures` returns minus that errno.
class FakeSyscalls : public PpdevSyscalls {
public:
    bool exists(const char* /*path*/) override { return true; }
    int open(const char* path, int flags) override {
        calls.push_back(std::string("open ") + path);
        openFlags = flags;
        return result("open", 7);
    }
    int ioctl(int fd, unsigned long request, void* argument) override {
        const std::string name = Name(request);
        calls.push_back(name + " " + std::to_string(fd));
        if (request == PPWDATA) {
            data.push_back(*static_cast<unsigned char*>(argument));
        }
        return result(name, 0);
    }
    int close(int fd) override {
        calls.push_back("close " + std::to_string(fd));
        return result("close", 0);
    }

    static std::string Name(unsigned long request) {
        const std::map<unsigned long, std::string> names = {
            {PPEXCL, "excl"}, {PPCLAIM, "claim"}, {PPWDATA, "wdata"}, {PPRELEASE, "release"}};
        const auto it = names.find(request);
        return it == names.end() ? "ioctl?" : it->second;
    }

    std::map<std::string, int> failures;
    std::vector<std::string> calls;
    std::vector<unsigned char> data;
    int openFlags = 0;

private:
    int result(const std::string& name, int success) {
        const auto it = failures.find(name);
        return it == failures.end() ? success : -it->second;
    }
};

using Calls = std::vector<std::string>;

struct PpdevPortTest : ::testing::Test {
    FixedClock clock;
    LineMonitor monitor;
    FakeSyscalls sys;
    PpdevPort port{monitor, clock, sys, "/dev/parport0"};
};

} // namespace

TEST_F(PpdevPortTest, OpensForWritingAndClaimsExclusivelyOnce) {
    EXPECT_EQ(port.InitializeWinIo(), 1);
    EXPECT_EQ(port.InitializeWinIo(), 1) << "a second initialisation keeps the open port";
    EXPECT_EQ(sys.calls, (Calls{"open /dev/parport0", "excl 7", "claim 7"}));
    EXPECT_EQ(sys.openFlags & O_ACCMODE, O_RDWR);
    EXPECT_NE(sys.openFlags & O_CLOEXEC, 0);
    EXPECT_TRUE(port.lastError().empty());
    EXPECT_TRUE(port.isOpen());
}

struct FailureCase {
    const char* name;
    const char* call;
    int error;
    const char* wordsForTheUser;
    Calls calls;
};

class PpdevPortFailureTest : public PpdevPortTest,
                             public ::testing::WithParamInterface<FailureCase> {};

TEST_P(PpdevPortFailureTest, ReturnsZeroSaysWhyLeavesNothingOpenAndALaterSuccessClearsTheReason) {
    const auto& c = GetParam();
    sys.failures[c.call] = c.error;

    EXPECT_EQ(port.InitializeWinIo(), 0);

    EXPECT_NE(port.lastError().find(c.wordsForTheUser), std::string::npos) << port.lastError();
    EXPECT_NE(port.lastError().find("/dev/parport0"), std::string::npos);
    EXPECT_EQ(sys.calls, c.calls);
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.SetPortVal(888, 0x27, 1), 0) << "a port that did not open is not written";

    sys.failures.clear();
    EXPECT_EQ(port.InitializeWinIo(), 1);
    EXPECT_TRUE(port.lastError().empty());
}

const Calls OpenOnly{"open /dev/parport0"};
const Calls UpToExcl{"open /dev/parport0", "excl 7", "close 7"};
const Calls UpToClaim{"open /dev/parport0", "excl 7", "claim 7", "close 7"};

const FailureCase Failures[] = {
    {"OpenMissing", "open", ENOENT, "No parallel port", OpenOnly},
    {"OpenNoDevice", "open", ENODEV, "No parallel port", OpenOnly},
    {"OpenMissingLeadsToTheOtherAdapters", "open", ENOENT,
     "instead: choose it under Settings > Source > Camera lines", OpenOnly},
    {"OpenNoAccess", "open", EACCES, "lp group", OpenOnly},
    {"OpenNotPermitted", "open", EPERM, "lp group", OpenOnly},
    {"OpenBusy", "open", EBUSY, "in use by another program", OpenOnly},
    {"OpenIoError", "open", EIO, "cannot be opened", OpenOnly},
    {"ExclRefused", "excl", EINVAL, "cannot be claimed", UpToExcl},
    {"ClaimHeldElsewhere", "claim", ENXIO, "in use by another program", UpToClaim},
    {"ClaimBusy", "claim", EBUSY, "in use by another program", UpToClaim},
};

INSTANTIATE_TEST_SUITE_P(PpdevPort, PpdevPortFailureTest, ::testing::ValuesIn(Failures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PpdevPortTest, WritesTheByteAndPublishesItWithItsTick) {
    ASSERT_EQ(port.InitializeWinIo(), 1);
    EXPECT_EQ(port.SetPortVal(888, 0x27, 1), 1);
    clock.now = 4300;
    EXPECT_EQ(port.SetPortVal(888, 0x137, 1), 1); // only the low byte reaches the lines

    EXPECT_EQ(sys.data, (std::vector<unsigned char>{0x27, 0x37}));
    std::vector<std::pair<std::int32_t, int>> seen;
    for (const LineWrite& write : monitor.history()) {
        seen.emplace_back(write.tick, write.state);
    }
    EXPECT_EQ(seen, (std::vector<std::pair<std::int32_t, int>>{{4242, 0x27}, {4300, 0x37}}));
}

TEST_F(PpdevPortTest, WritesArePublishedWhenThePortIsClosedOrTheKernelRefuses) {
    EXPECT_EQ(port.SetPortVal(888, 0x00, 1), 0);
    ASSERT_EQ(port.InitializeWinIo(), 1);
    sys.failures["wdata"] = EIO;
    EXPECT_EQ(port.SetPortVal(888, 0x34, 1), 0);
    EXPECT_EQ(monitor.states(), (std::vector<std::uint8_t>{0x00, 0x34}));
}

TEST_F(PpdevPortTest, ShutdownReleasesAndClosesOnce) {
    EXPECT_EQ(port.ShutdownWinIo(), 1) << "nothing to do when not open";
    EXPECT_TRUE(sys.calls.empty());

    ASSERT_EQ(port.InitializeWinIo(), 1);
    sys.calls.clear();
    EXPECT_EQ(port.ShutdownWinIo(), 1);
    EXPECT_EQ(sys.calls, (Calls{"release 7", "close 7"}));
    EXPECT_FALSE(port.isOpen());
}

TEST_F(PpdevPortTest, RefusedReleaseReportsFailureButClosesSoTheRetrySucceeds) {
    ASSERT_EQ(port.InitializeWinIo(), 1);
    sys.failures["release"] = EIO;
    EXPECT_EQ(port.ShutdownWinIo(), 0);
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.ShutdownWinIo(), 1);
    EXPECT_EQ(sys.calls.back(), "close 7");
}

TEST_F(PpdevPortTest, DestroyingAnOpenPortReleasesIt) {
    {
        PpdevPort other(monitor, clock, sys);
        ASSERT_EQ(other.InitializeWinIo(), 1);
    }
    EXPECT_EQ(sys.calls,
              (Calls{"open /dev/parport0", "excl 7", "claim 7", "release 7", "close 7"}));
}

// The real kernel calls, on a device that is not there.
TEST_F(PpdevPortTest, MissingDeviceIsReportedAsNoParallelPort) {
    KernelPpdevSyscalls calls;
    PpdevPort kernel(monitor, clock, calls, "/dev/lumenvale-no-such-parport");
    EXPECT_EQ(kernel.InitializeWinIo(), 0);
    EXPECT_NE(kernel.lastError().find("No parallel port"), std::string::npos);
}
