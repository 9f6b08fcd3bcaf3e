// TBComPort on real pseudo-terminals: the component opens the slave, the test is the device.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "BCPort.h"
#include "ComTestHelpers.h"
#include "PtyPair.h"
#include "Termios2Probe.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string AllByteValues() {
    std::string bytes(256, '\0');
    for (int i = 0; i < 256; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(i);
    }
    return bytes;
}

// The application's stored settings: all five time-outs 1.
class OnPty : public ::testing::Test {
protected:
    void SetUp() override {
        Port.SetPort(Pty.SlavePath);
        SetTimeouts(Port, 1, 1, 1, 1, 1);
    }
    PtyPair Pty;
    TBComPort Port;
};

TEST_F(OnPty, OpenAndCloseAreIdempotent) {
    EXPECT_TRUE(Port.Close());
    EXPECT_TRUE(Port.Open());
    EXPECT_TRUE(Port.Open());
    EXPECT_TRUE(Port.IsOpen());
    EXPECT_TRUE(Port.Close());
    EXPECT_FALSE(Port.IsOpen());
    EXPECT_TRUE(Port.Close());
    EXPECT_TRUE(Port.Open());
}

TEST_F(OnPty, MissingDeviceRaisesOne) {
    for (const char* name : {"ttyTARVEXNOSUCH9", "/dev/ttyTARVEXNOSUCH9"}) {
        TBComPort port;
        port.SetPort(name);
        EXPECT_EQ(MessageOf([&] { port.Open(); }), 1) << name;
        EXPECT_FALSE(port.IsOpen());
        EXPECT_TRUE(port.Close());
    }
}

TEST_F(OnPty, SecondOpenOfSameDeviceRaisesTwo) {
    ASSERT_TRUE(Port.Open());
    TBComPort second;
    second.SetPort(Pty.SlavePath);
    EXPECT_EQ(MessageOf([&] { second.Open(); }), 2);
    EXPECT_FALSE(second.IsOpen());
    // Closing, with modem-line calls the pty refuses, still frees the device.
    EXPECT_TRUE(Port.Close());
    EXPECT_TRUE(second.Open());
}

TEST_F(OnPty, DeviceThatIsNoSerialPortRaisesTenAndStaysClosed) {
    TBComPort port;
    port.SetPort("/dev/null");
    EXPECT_EQ(MessageOf([&] { port.Open(); }), 10);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.Close());
}

TEST_F(OnPty, LineIsRawWithoutFlowControl) {
    ASSERT_TRUE(Port.Open());
    TTermiosProbe t;
    ASSERT_TRUE(ProbeTermios(Pty.Slave, t));
    EXPECT_EQ(t.LFlag & (ICANON | ECHO | ISIG | IEXTEN), 0U);
    EXPECT_EQ(t.OFlag & OPOST, 0U);
    EXPECT_EQ(t.IFlag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0U);
    EXPECT_EQ(t.CFlag & CRTSCTS, 0U);
    EXPECT_EQ(t.CFlag & (CLOCAL | CREAD), static_cast<std::uint32_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.OSpeed, 9600U);
}

TEST_F(OnPty, EveryRateReachesTheOpenPortAtOnce) {
    ASSERT_TRUE(Port.Open());
    for (int i = 14; i >= 0; --i) {
        const auto rate = static_cast<TBaudRate>(i);
        Port.SetBaudRate(rate);
        TTermiosProbe t;
        ASSERT_TRUE(ProbeTermios(Pty.Slave, t));
        EXPECT_EQ(t.OSpeed, BaudRateValue(rate));
        EXPECT_EQ(t.ISpeed, BaudRateValue(rate));
    }
}

TEST_F(OnPty, RateChangedWhileClosedAppliesAtNextOpen) {
    Port.SetBaudRate(TBaudRate::br128000);
    TTermiosProbe t;
    ASSERT_TRUE(ProbeTermios(Pty.Slave, t));
    EXPECT_NE(t.OSpeed, 128000U);
    ASSERT_TRUE(Port.Open());
    ASSERT_TRUE(ProbeTermios(Pty.Slave, t));
    EXPECT_EQ(t.OSpeed, 128000U);
}

TEST_F(OnPty, SilentLineReturnsEmptyAfterTotalBudget) {
    ASSERT_TRUE(Port.Open());
    std::string text = "old";
    const auto start = Clock::now();
    EXPECT_EQ(Port.ReceiveString(text, 40), 0);
    const double ms = MsSince(start);
    EXPECT_EQ(text, "");
    EXPECT_GE(ms, 40.9);
    EXPECT_LT(ms, 400.0);
}

TEST_F(OnPty, ReplyReturnsExactlyItsBytes) {
    ASSERT_TRUE(Port.Open());
    const std::string reply("g82\0\x01\xff;02ABCD", 12);
    Pty.Send(reply);
    std::string text;
    EXPECT_EQ(Port.ReceiveString(text, 40), 12);
    EXPECT_EQ(text, reply);
}

TEST_F(OnPty, QuietLineEndsReadLongBeforeTotal) {
    ASSERT_TRUE(Port.Open());
    SetTimeouts(Port, 20, 0, 5000, 1, 1);
    Pty.Send("g8201");
    std::string text;
    const auto start = Clock::now();
    EXPECT_EQ(Port.ReceiveString(text, 40), 5);
    const double ms = MsSince(start);
    EXPECT_EQ(text, "g8201");
    EXPECT_GE(ms, 19.9); // the interval runs from the byte
    EXPECT_LT(ms, 2500.0);
}

TEST_F(OnPty, ShortReadLeavesRestQueued) {
    ASSERT_TRUE(Port.Open());
    Pty.Send("0123456789AB");
    std::string text;
    EXPECT_EQ(Port.ReceiveString(text, 5), 5);
    EXPECT_EQ(text, "01234");
    EXPECT_EQ(Port.InQueueCount(), 7);
    EXPECT_EQ(Port.ReceiveString(text, 40), 7);
    EXPECT_EQ(text, "56789AB");
}

TEST_F(OnPty, NewComponentTimeoutsReturnAtOnceWithQueuedBytes) {
    TBComPort fresh; // ReadInterval -1, read totals 0
    fresh.SetPort(Pty.SlavePath);
    ASSERT_TRUE(fresh.Open());
    std::string text;
    const auto start = Clock::now();
    EXPECT_EQ(fresh.ReceiveString(text, 40), 0);
    EXPECT_LT(MsSince(start), 1000.0);
    Pty.Send("abcd");
    ASSERT_TRUE(Pty.WaitQueuedOnSlave());
    EXPECT_EQ(fresh.ReceiveString(text, 40), 4);
    EXPECT_EQ(text, "abcd");
}

TEST_F(OnPty, AllByteValuesPassBothWays) {
    ASSERT_TRUE(Port.Open());
    const std::string bytes = AllByteValues();
    EXPECT_EQ(Port.SendString(bytes), 256);
    EXPECT_EQ(Pty.Take(256), bytes);
    Pty.Send(bytes);
    std::string text;
    EXPECT_EQ(Port.ReceiveString(text, 256), 256);
    EXPECT_EQ(text, bytes);
}

TEST_F(OnPty, FrameAtSlowRateIsWrittenWhole) {
    Port.SetBaudRate(TBaudRate::br9600);
    ASSERT_TRUE(Port.Open());
    std::string frame(136, 'C');
    frame.front() = 'g';
    frame.back() = ';';
    EXPECT_EQ(Port.SendString(frame), 136);
    EXPECT_EQ(Pty.Take(136), frame);
}

TEST_F(OnPty, StalledOutputRaisesThreeAfterBudget) {
    Port.SetBaudRate(TBaudRate::br256000);
    ASSERT_TRUE(Port.Open());
    SetTimeouts(Port, 1, 1, 1, 0, 20);
    // Output held as by flow control: the pty takes nothing more.
    ASSERT_EQ(::tcflow(Pty.Slave, TCOOFF), 0);
    const auto start = Clock::now();
    EXPECT_EQ(MessageOf([&] { Port.SendString(std::string(136, 'D')); }), 3);
    const double ms = MsSince(start);
    ::tcflow(Pty.Slave, TCOON);
    // 20 ms configured + twice 5.3 ms of line time + 50 ms.
    EXPECT_GE(ms, 80.0);
    EXPECT_LT(ms, 2000.0);
    EXPECT_TRUE(Port.IsOpen());
    EXPECT_EQ(Port.SendString("ok"), 2);
    EXPECT_EQ(Pty.Take(2), "ok");
}

TEST_F(OnPty, PtyHasNoModemLinesAndThatIsNoFailure) {
    ASSERT_TRUE(Port.Open());
    EXPECT_EQ(Port.ReadModemLines(), 0);
    Port.SwitchDTR(true);
    Port.SwitchRTS(false);
    Port.AbortTransfers();
    EXPECT_TRUE(Port.Close());
}

TEST_F(OnPty, AbortDiscardsQueuedInput) {
    ASSERT_TRUE(Port.Open());
    Pty.Send("stale");
    ASSERT_TRUE(Pty.WaitQueuedOnSlave());
    EXPECT_EQ(Port.InQueueCount(), 5);
    Port.AbortTransfers();
    EXPECT_EQ(Port.InQueueCount(), 0);
}

TEST_F(OnPty, VanishedDeviceRaisesInsteadOfWaiting) {
    ASSERT_TRUE(Port.Open());
    SetTimeouts(Port, 0, 0, 0, 0, 0); // no limits: only the failure can end the calls
    ::close(Pty.Master);
    Pty.Master = -1;
    std::string text;
    EXPECT_EQ(MessageOf([&] { Port.ReceiveString(text, 40); }), 4);
    EXPECT_EQ(MessageOf([&] { Port.SendString("g0101;"); }), 3);
    EXPECT_TRUE(Port.Close());
}

TEST_F(OnPty, ClosedPortMessages) {
    std::string text;
    EXPECT_EQ(Port.SendString(""), 0);
    EXPECT_EQ(Port.ReceiveString(text, 0), 0);
    EXPECT_EQ(MessageOf([&] { Port.SendString("g0101;"); }), 3);
    EXPECT_EQ(MessageOf([&] { Port.ReceiveString(text, 20); }), 4);
    EXPECT_EQ(Pty.Take(1, std::chrono::milliseconds(20)), "");
}

} // namespace
