// The driver's low-latency mode, asked for at Open and put back at Close, over a recording
// stand-in for the two serial-settings requests.
#include <gtest/gtest.h>

#include <cerrno>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "BCPort.h"
#include "ComLowLatency.h"
#include "ComTestHelpers.h"
#include "PtyPair.h"

namespace {

// The driver as the test sets it up, and what was asked of it.
struct TFakeDriver {
    bool HasSettings = true; // false: ENOTTY, as a pseudo-terminal answers
    bool RefusesChange = false;
    int Flags = 0;
    std::vector<std::string> Calls;
};
TFakeDriver Driver;

int FakeIoctl(int fd, unsigned long request, serial_struct* settings) {
    EXPECT_EQ(fd, 7);
    if (request == TIOCGSERIAL) {
        Driver.Calls.push_back("get");
        if (!Driver.HasSettings) {
            errno = ENOTTY;
            return -1;
        }
        *settings = {};
        settings->flags = Driver.Flags;
        settings->xmit_fifo_size = 64; // must come back unchanged
        return 0;
    }
    EXPECT_EQ(request, static_cast<unsigned long>(TIOCSSERIAL));
    EXPECT_EQ(settings->xmit_fifo_size, 64);
    Driver.Calls.push_back("set " + std::to_string(settings->flags));
    if (!Driver.HasSettings || Driver.RefusesChange) {
        errno = Driver.HasSettings ? EPERM : ENOTTY;
        return -1;
    }
    Driver.Flags = settings->flags;
    return 0;
}

struct TCase {
    const char* Name;
    bool HasSettings;
    bool RefusesChange;
    int FlagsBefore;
    std::vector<std::string> OpenCalls;
    int FlagsWhileOpen;
    std::vector<std::string> CloseCalls;
};

class LowLatency : public ::testing::TestWithParam<TCase> {};

TEST_P(LowLatency, IsAskedForAtOpenAndPutBackAtClose) {
    const TCase& c = GetParam();
    Driver = {c.HasSettings, c.RefusesChange, c.FlagsBefore, {}};
    const TLowLatencyState state = RaiseLowLatency(7, FakeIoctl);
    EXPECT_EQ(Driver.Calls, c.OpenCalls);
    EXPECT_EQ(Driver.Flags, c.FlagsWhileOpen);

    Driver.Calls.clear();
    Driver.Flags |= 0x1000; // another setting changed while the port was open stays
    RestoreLowLatency(7, state, FakeIoctl);
    EXPECT_EQ(Driver.Calls, c.CloseCalls);
    if (c.HasSettings) {
        EXPECT_EQ(Driver.Flags, c.FlagsBefore | 0x1000);
    }
}

const int Low = ASYNC_LOW_LATENCY;
const std::string SetLow = "set " + std::to_string(0x40 | Low);
const std::string SetBack = "set " + std::to_string(0x40 | 0x1000);

INSTANTIATE_TEST_SUITE_P(
    Drivers, LowLatency,
    ::testing::Values(
        // A USB serial driver: the flag is set while open and cleared again.
        TCase{"UsbAdapter", true, false, 0x40, {"get", SetLow}, 0x40 | Low, {"get", SetBack}},
        // Already set by the user (a udev rule): left alone, and still set afterwards.
        TCase{"AlreadyLow", true, false, 0x40 | Low, {"get"}, 0x40 | Low, {}},
        // A pseudo-terminal has no serial settings: one question, nothing to undo.
        TCase{"PseudoTerminal", false, false, 0, {"get"}, 0, {}},
        // A driver that refuses the change: nothing to undo either.
        TCase{"Refused", true, true, 0x40, {"get", SetLow}, 0x40, {}}),
    [](const ::testing::TestParamInfo<TCase>& p) { return std::string(p.param.Name); });

// The component's own Open and Close on a real device: a pseudo-terminal whose two requests
// are answered as a USB serial driver would.  The requests must reach the descriptor that
// Open opened, and Close (also the one the destructor runs) must give the flags back.
dev_t PtyDevice = 0;
int UsbFlags = 0;
std::vector<std::string> UsbCalls;

int UsbIoctl(int fd, unsigned long request, serial_struct* settings) {
    struct stat st {};
    EXPECT_EQ(::fstat(fd, &st), 0);
    EXPECT_EQ(st.st_rdev, PtyDevice) << "not the open port's descriptor";
    if (request == TIOCGSERIAL) {
        UsbCalls.push_back("get");
        *settings = {};
        settings->flags = UsbFlags;
        return 0;
    }
    UsbCalls.push_back("set " + std::to_string(settings->flags));
    UsbFlags = settings->flags;
    return 0;
}

TEST(LowLatencyPort, OpenAsksTheDeviceAndCloseGivesItBack) {
    PtyPair pty;
    struct stat st {};
    ASSERT_EQ(::stat(pty.SlavePath.c_str(), &st), 0);
    PtyDevice = st.st_rdev;
    UsbFlags = 0x40;
    UsbCalls.clear();
    {
        TBComPort port(CreatePosixComOs(UsbIoctl));
        port.SetPort(pty.SlavePath);
        StoredSettings(port);
        ASSERT_TRUE(port.Open());
        EXPECT_EQ(UsbFlags, 0x40 | Low);
        EXPECT_EQ(port.SendString("g0202;"), 6);
        EXPECT_EQ(pty.Take(6), "g0202;");
        ASSERT_TRUE(port.Close());
        EXPECT_EQ(UsbFlags, 0x40);
        EXPECT_EQ(UsbCalls, (std::vector<std::string>{"get", SetLow, "get", "set 64"}));

        // Left open: the destructor's Close gives the flags back too.
        UsbCalls.clear();
        ASSERT_TRUE(port.Open());
        EXPECT_EQ(UsbFlags, 0x40 | Low);
    }
    EXPECT_EQ(UsbFlags, 0x40);
    EXPECT_EQ(UsbCalls, (std::vector<std::string>{"get", SetLow, "get", "set 64"}));
}

} // namespace
