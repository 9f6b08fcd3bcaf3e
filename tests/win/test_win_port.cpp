// The Windows layer against a live device: tarvex6-sim (WinSim.*) or an echoing
// pseudo-terminal (WinEcho.*) behind the mapped COM port.  tests/win/host starts the peer,
// runs these under Wine and checks what the peer received.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "BCPort.h"
#include "ComOs.h"
#include "ComOsWin32.h"
#include "ComTestHelpers.h"
#include "ComUiWindow.h"
#include "WinTestPort.h"

namespace {

using Clock = std::chrono::steady_clock;

class WinPort : public ::testing::Test {
protected:
    void SetUp() override {
        auto os = CreatePlatformComOs();
        Os = os.get();
        Port = std::make_unique<TBComPort>(std::move(os));
        Port->SetPort(WinTestPort());
        Port->SetBaudRate(TBaudRate::br115200);
        StoredSettings(*Port);
        ASSERT_TRUE(Port->Open());
    }
    void TearDown() override {
        if (Port) {
            EXPECT_TRUE(Port->Close());
        }
    }
    HANDLE Handle() const { return static_cast<HANDLE>(ComOsWin32Handle(*Os)); }

    TComOs* Os = nullptr;
    std::unique_ptr<TBComPort> Port;
};

using WinSim = WinPort;
using WinEcho = WinPort;

TEST_F(WinSim, TheSystemHoldsTheAppliedSettings) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(::GetCommState(Handle(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fParity, 0u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));

    // Read time-outs reach the system as given, a negative one as all ones; the write
    // time-outs carry the line allowance: at 115200 twice a character is under 1 ms, so
    // one more millisecond a byte, and 50 ms more in all.
    SetTimeouts(*Port, -1, 2, 3, 4, 5);
    COMMTIMEOUTS t{};
    ASSERT_TRUE(::GetCommTimeouts(Handle(), &t));
    EXPECT_EQ(t.ReadIntervalTimeout, 4294967295u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 2u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 3u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 5u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 55u);

    // A live change of rate reaches the system at once, with its own allowance:
    // 2 x 10 bits at 9600 is 2.08 ms, 3 ms rounded up.
    Port->SetBaudRate(TBaudRate::br9600);
    ASSERT_TRUE(::GetCommState(Handle(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    ASSERT_TRUE(::GetCommTimeouts(Handle(), &t));
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 7u);

    // No write limit stays no limit.
    SetTimeouts(*Port, 1, 1, 1, 0, 0);
    ASSERT_TRUE(::GetCommTimeouts(Handle(), &t));
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 0u);
    EXPECT_EQ(t.ReadIntervalTimeout, 1u);
}

TEST_F(WinSim, IdentifyFrameAndItsReply) {
    EXPECT_EQ(Port->SendString("g0202;"), 6);
    std::string reply;
    std::string part;
    const auto start = Clock::now();
    // The reply may come in pieces: read until its end or two seconds.
    while (reply.find(';') == std::string::npos && Clock::now() - start < std::chrono::seconds(2)) {
        Port->ReceiveString(part, 40);
        reply += part;
    }
    EXPECT_EQ(reply, "g8202000001400400C9;");
}

TEST_F(WinSim, SilentLineReadEndsEmptyAfterItsTimeout) {
    std::string text = "left";
    const auto start = Clock::now();
    EXPECT_EQ(Port->ReceiveString(text, 40), 0);
    const auto spent = Clock::now() - start;
    EXPECT_TRUE(text.empty());
    // About 41 ms; Windows timers are coarse, so only a wide bound.
    EXPECT_GE(spent, std::chrono::milliseconds(30));
    EXPECT_LT(spent, std::chrono::milliseconds(1000));
}

TEST_F(WinSim, LinesSwitchAndReadWithModemLines) {
    // Needs modem lines: on a pseudo-terminal only with the test's preloaded line shim.
    Port->SwitchDTR(false);
    Port->SwitchRTS(true);
    const TModemLineSet lines = Port->ReadModemLines();
    EXPECT_EQ(lines & 1, 1); // CTS
    EXPECT_EQ(lines & 8, 8); // RLSD
}

// The event thread under each delivery method: the simulator's reply to an identify frame
// reaches OnRxChar with a count above 0, on the thread the method names, and the wait
// leaves every byte for ReceiveString.
class WinSimEvents : public ::testing::TestWithParam<TSyncMethod> {};

TEST_P(WinSimEvents, ReceivedBytesReachOnRxChar) {
    TComUiWindow ui([](std::exception_ptr) {});
    TBComPort port;
    port.SetPort(WinTestPort());
    port.SetBaudRate(TBaudRate::br115200);
    StoredSettings(port);
    port.SetSyncMethod(GetParam());
    port.SetUiThread(&ui);
    std::atomic<std::int32_t> total{0};
    std::atomic<bool> zeroCount{false};
    std::atomic<DWORD> handlerThread{0};
    port.OnRxChar = [&](TBComPort&, std::int32_t count) {
        zeroCount = zeroCount || count <= 0;
        handlerThread = ::GetCurrentThreadId();
        total += count;
    };
    ASSERT_TRUE(port.Open());
    EXPECT_EQ(port.SendString("g0202;"), 6);

    // Serve the window's messages until the event came, five seconds at most.
    const auto start = Clock::now();
    while (total == 0 && Clock::now() - start < std::chrono::seconds(5)) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::DispatchMessageA(&msg);
        }
    }
    EXPECT_GT(total.load(), 0);
    EXPECT_FALSE(zeroCount.load());
    if (GetParam() == TSyncMethod::smNone) {
        EXPECT_NE(handlerThread.load(), ::GetCurrentThreadId());
    } else {
        EXPECT_EQ(handlerThread.load(), ::GetCurrentThreadId());
    }

    // The event wait took nothing from the driver's queue.
    std::string reply;
    std::string part;
    while (reply.size() < 20 && Clock::now() - start < std::chrono::seconds(5)) {
        port.ReceiveString(part, 40);
        reply += part;
    }
    EXPECT_EQ(reply, "g8202000001400400C9;");
    EXPECT_TRUE(port.Close());
}

INSTANTIATE_TEST_SUITE_P(EachMethod, WinSimEvents,
                         ::testing::Values(TSyncMethod::smThreadSync, TSyncMethod::smWindowSync,
                                           TSyncMethod::smNone));

TEST_F(WinEcho, AllByteValuesBothWays) {
    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = static_cast<char>(i);
    }
    SetTimeouts(*Port, 200, 10, 1000, 10, 1000);
    EXPECT_EQ(Port->SendString(all), 256);
    std::string back;
    std::string part;
    const auto start = Clock::now();
    while (back.size() < all.size() && Clock::now() - start < std::chrono::seconds(5)) {
        Port->ReceiveString(part, static_cast<std::int32_t>(all.size() - back.size()));
        back += part;
    }
    EXPECT_TRUE(back == all) << "received " << back.size() << " bytes";
}

} // namespace

namespace {

// Bytes still in the driver's input queue when the port closes are discarded on the way out
// (PurgeComm with PURGE_TXCLEAR | PURGE_RXCLEAR): the next opening starts empty.
TEST_F(WinEcho, QueuedBytesAreDiscardedAtClose) {
    EXPECT_EQ(Port->SendString("0123456789"), 10);
    const auto start = Clock::now();
    while (Port->InQueueCount() < 10 && Clock::now() - start < std::chrono::seconds(5)) {
        ::Sleep(5);
    }
    ASSERT_EQ(Port->InQueueCount(), 10);
    EXPECT_TRUE(Port->Close());
    ASSERT_TRUE(Port->Open());
    EXPECT_EQ(Port->InQueueCount(), 0);
    std::string text;
    EXPECT_EQ(Port->ReceiveString(text, 10), 0);
}

} // namespace

namespace {

// Modem-line changes under smWindowSync: the test's line shim (TARVEX_FAKE_MODEM_LINES names
// the file it reads the input lines from) stands in for the other end's lines.
void SetInputLines(int tiocmBits) {
    const char* path = std::getenv("TARVEX_FAKE_MODEM_LINES");
    ASSERT_NE(path, nullptr);
    std::FILE* file = std::fopen(path, "w");
    ASSERT_NE(file, nullptr);
    std::fprintf(file, "%d\n", tiocmBits);
    std::fclose(file);
}

constexpr int LineCts = 0x020, LineCarrier = 0x040, LineRing = 0x080, LineDsr = 0x100;

TEST(WinLines, ChangesReachTheirHandlersThroughTheWindow) {
    SetInputLines(LineCts | LineDsr | LineCarrier);
    TComUiWindow ui([](std::exception_ptr) {});
    TBComPort port;
    port.SetPort(WinTestPort());
    StoredSettings(port);
    port.SetSyncMethod(TSyncMethod::smWindowSync);
    port.SetUiThread(&ui);
    std::vector<std::string> seen;
    port.OnCTSChange = [&](TBComPort&, bool on) { seen.push_back(on ? "CTS on" : "CTS off"); };
    port.OnRLSDChange = [&](TBComPort&, bool on) { seen.push_back(on ? "RLSD on" : "RLSD off"); };
    port.OnDSRChange = [&](TBComPort&, bool) { seen.push_back("DSR"); };
    port.OnRing = [&](TBComPort&) { seen.push_back("ring"); };
    ASSERT_TRUE(port.Open());
    auto serve = [&](std::chrono::milliseconds span) {
        const auto start = Clock::now();
        while (Clock::now() - start < span) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            MSG msg;
            while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ::DispatchMessageA(&msg);
            }
        }
    };
    // Wine compares the lines with their state when the event wait began (Windows keeps
    // the changes since SetCommMask), and the event thread may not wait yet: switch between
    // two states until a change is reported.  Returns the state reported.
    auto switchUntilSeen = [&](int first, int second) {
        for (int round = 0; round < 20; ++round) {
            const int lines = round % 2 == 0 ? first : second;
            SetInputLines(lines);
            serve(std::chrono::milliseconds(300));
            if (!seen.empty()) {
                return lines;
            }
        }
        return -1;
    };

    const int lines = switchUntilSeen(LineDsr, LineCts | LineDsr | LineCarrier);
    ASSERT_NE(lines, -1) << "no change reported";
    const bool on = (lines & LineCts) != 0;
    // Present together, delivered in the fixed order: CTS before RLSD; DSR did not change.
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[0], on ? "CTS on" : "CTS off");
    EXPECT_EQ(seen[1], on ? "RLSD on" : "RLSD off");
    EXPECT_EQ(port.ReadModemLines(), on ? 1 | 2 | 8 : 2); // CTS, DSR, RLSD

    seen.clear();
    ASSERT_NE(switchUntilSeen(LineDsr | LineRing, LineDsr), -1) << "no ring reported";
    EXPECT_EQ(seen[0], "ring");
    EXPECT_TRUE(port.Close());
}

} // namespace
