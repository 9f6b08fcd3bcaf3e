// The component over the whole Windows layer, on a made-up device that answers as the Win32
// documentation says (FakeComDevice.h): the ordinary paths of a driver that behaves, the
// ends a transfer can have, driver calls that never return, and a thread that Close let go.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "BCPort.h"
#include "ComOs.h"
#include "ComOsWin32.h"
#include "ComTestHelpers.h"
#include "ComThread.h"
#include "FakeComDevice.h"

namespace {

using Clock = std::chrono::steady_clock;

int MsSince(Clock::time_point start) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

struct DriverPort {
    explicit DriverPort(TSyncMethod method = TSyncMethod::smNone)
        : Port(std::make_unique<TBComPort>(CreateWin32ComOs(FakeComDevice::Api()))) {
        Port->SetPort("COM7");
        Port->SetSyncMethod(method);
    }
    // The handle of the latest device opened.
    HANDLE OpenHandle() {
        HANDLE handle = INVALID_HANDLE_VALUE;
        Device.WaitUntil([&] {
            if (!Device.Open.empty()) {
                handle = *Device.Open.rbegin();
            }
            return true;
        });
        return handle;
    }
    // Waits until the event thread's wait is pending on the device.
    bool WaitPending(std::size_t waits = 1) {
        return Device.WaitUntil([&] { return Device.WaitsStarted.size() >= waits; });
    }

    FakeComDevice Device; // outlives the port: late completions and blocked calls end first
    std::unique_ptr<TBComPort> Port;
};

// A driver that behaves: Close clears DTR and RTS, aborts the transfers, and the event
// thread's mask change ends its wait at once, so nothing waits on a cancel and nothing is
// given up; the handle is closed once, and no call is made on it afterwards.
TEST(WinDriver, CloseOnADriverThatBehavesEndsTheWaitAtOnceAndGivesNothingUp) {
    for (const TSyncMethod method : {TSyncMethod::smNone, TSyncMethod::smThreadSync}) {
        DriverPort p(method);
        ASSERT_TRUE(p.Port->Open());
        ASSERT_TRUE(p.WaitPending());
        const HANDLE handle = p.OpenHandle();
        const OVERLAPPED* wait = nullptr;
        p.Device.WaitUntil([&] {
            wait = p.Device.LastWait;
            return true;
        });

        const auto start = Clock::now();
        EXPECT_TRUE(p.Port->Close());
        const int took = MsSince(start);
        RecordProperty(method == TSyncMethod::smNone ? "CloseMsSmNone" : "CloseMsSmThreadSync",
                       took);
        EXPECT_LT(took, 200);
        EXPECT_FALSE(ComWin32Abandoned(wait));
        FakeComDevice& d = p.Device;
        EXPECT_EQ(d.WaitsEndedByMask, 1);
        EXPECT_EQ(d.CancelsIgnored, 0);
        EXPECT_EQ(d.Count("EscapeCommFunction 6", handle), 1); // CLRDTR
        EXPECT_EQ(d.Count("EscapeCommFunction 4", handle), 1); // CLRRTS
        EXPECT_EQ(d.Count("PurgeComm 3", handle), 1);          // the transfers aborted
        EXPECT_EQ(d.Count("PurgeComm 12", handle), 1);         // the queues cleared
        EXPECT_EQ(d.Count("CloseHandle", handle), 1);
        EXPECT_TRUE(d.Open.empty());
        EXPECT_EQ(d.OnClosedHandle, 0);
    }
}

// How a transfer can end, and what the component gives for it: a write gives all its bytes
// or message 3 (a frame is never sent in part); a read gives the bytes that arrived by its
// limit, also when the layer had to cancel it there, and message 4 when it failed.
TEST(WinDriver, TransfersGiveWhatTheirEndSays) {
    const std::string frame = "g0101;";
    const std::string line = "g8203040506";
    struct Case {
        const char* Name;
        TFakeEnd End;
        int WriteMessage;      // 0: SendString returns 6
        int ReadMessage;       // 0: ReceiveString returns ReadBytes
        const char* ReadBytes; // of a read of 6 with `line` arrived, 3 moved by a limit
        bool Cancelled;        // the layer cancelled it at its limit
        bool GivenUp;          // and gave it up, its memory kept
    };
    const Case cases[] = {
        {"at once", TFakeEnd::AtOnce, 0, 0, "g82030", false, false},
        {"pending, then done", TFakeEnd::WhenWaited, 0, 0, "g82030", false, false},
        {"partial by its time-out", TFakeEnd::TimeoutWhenWaited, 3, 0, "g82", false, false},
        {"failed", TFakeEnd::FailsWhenWaited, 3, 4, "", false, false},
        {"cancel honoured", TFakeEnd::OnCancel, 3, 0, "g82", true, false},
        {"cancel ends it failed", TFakeEnd::CancelFails, 3, 4, "", true, false},
        {"cancel ignored", TFakeEnd::IgnoresCancel, 3, 4, "", true, true},
    };
    for (const Case& c : cases) {
        for (const bool write : {true, false}) {
            SCOPED_TRACE(std::string(c.Name) + (write ? ", write" : ", read"));
            DriverPort p;
            // Short budgets: the layer waits a second past them before it cancels.
            SetTimeouts(*p.Port, 0, 0, 20, 0, 20);
            p.Device.WriteEnd = c.End;
            p.Device.ReadEnd = c.End;
            p.Device.Line = line;
            p.Device.Moved = 3;
            ASSERT_TRUE(p.Port->Open());
            std::string text = "left";
            int message = 0;
            std::int32_t count = -1;
            if (write) {
                message = MessageOf([&] { count = p.Port->SendString(frame); });
                EXPECT_EQ(message, c.WriteMessage);
                if (message == 0) {
                    EXPECT_EQ(count, 6);
                }
            } else {
                message = MessageOf([&] { count = p.Port->ReceiveString(text, 6); });
                EXPECT_EQ(message, c.ReadMessage);
                if (message == 0) {
                    EXPECT_EQ(count, static_cast<std::int32_t>(std::string(c.ReadBytes).size()));
                    EXPECT_EQ(text, c.ReadBytes);
                } else {
                    EXPECT_EQ(text, "");
                }
            }
            const OVERLAPPED* transfer = nullptr;
            int cancels = 0;
            p.Device.WaitUntil([&] {
                transfer = p.Device.LastTransfer;
                cancels = p.Device.CancelsHonoured + p.Device.CancelsIgnored;
                return true;
            });
            EXPECT_EQ(cancels, c.Cancelled ? 1 : 0);
            EXPECT_EQ(ComWin32Abandoned(transfer), c.GivenUp);
            EXPECT_TRUE(p.Port->IsOpen());
            EXPECT_TRUE(p.Port->Close());
            EXPECT_EQ(p.Device.OnClosedHandle, 0);
        }
    }
}

// A driver call without an OVERLAPPED that never returns (here: not for 5 s) holds the
// operation that made it DriverCallLimitMs at most, and the operation goes on as it does
// when the call fails: the write stands on its line time, Open ignores the event mask's
// result, Close raises the call's message and leaves the port open.  The call keeps the
// device open until it has returned, so no call is ever made on a closed handle.
TEST(WinDriver, ACallThatNeverReturnsHoldsNoOperationPastItsLimit) {
    struct Case {
        const char* Blocking;
        const char* Operation;
        int Message; // of the operation; 0: it succeeds
    };
    const Case cases[] = {
        {"ClearCommError", "SendString", 0},
        {"SetCommMask", "Open", 0},
        {"PurgeComm", "Close", 6},
        {"EscapeCommFunction", "Close", 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Blocking);
        DriverPort p;
        StoredSettings(*p.Port);
        const std::string operation = c.Operation;
        if (operation != "Open") {
            ASSERT_TRUE(p.Port->Open());
        }
        p.Device.WaitUntil([&] {
            p.Device.Blocking.insert(c.Blocking);
            return true;
        });
        const auto start = Clock::now();
        const int message = MessageOf([&] {
            if (operation == "SendString") {
                EXPECT_EQ(p.Port->SendString("g0101;"), 6);
            } else if (operation == "Open") {
                EXPECT_TRUE(p.Port->Open());
            } else {
                p.Port->Close();
            }
        });
        const int took = MsSince(start);
        RecordProperty(std::string(c.Blocking) + "HeldMs", took);
        EXPECT_EQ(message, c.Message);
        EXPECT_GE(took, static_cast<int>(DriverCallLimitMs) - 100);
        EXPECT_LT(took, static_cast<int>(DriverCallLimitMs) + 1000);
        EXPECT_TRUE(p.Port->IsOpen());

        p.Port.reset(); // a component that refused to close is thrown away
        p.Device.ReleaseBlocked();
        EXPECT_TRUE(p.Device.WaitUntil([&] { return p.Device.Open.empty(); }));
        EXPECT_EQ(p.Device.OnClosedHandle, 0);
    }
}

// A thread stuck in an smNone handler is let go by Close; once the handler returns it
// dispatches nothing more, clears no mask and starts no wait, even when the port has been
// opened again meanwhile: the handle it held stays open until it ends, so the new device
// gets another.
TEST(WinDriver, AThreadThatCloseLetGoTouchesNothingOfThePort) {
    DriverPort p;
    HANDLE release = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    int rx = 0;
    int txEmpty = 0;
    HANDLE inHandler = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    p.Port->OnRxChar = [&](TBComPort&, std::int32_t) {
        ++rx;
        ::SetEvent(inHandler);
        // Released by the test below; 10 s only ends a test that would wait for ever.
        ::WaitForSingleObject(release, 10000);
    };
    p.Port->OnTxEmpty = [&](TBComPort&) { ++txEmpty; };
    p.Device.Line = "g";
    ASSERT_TRUE(p.Port->Open());
    ASSERT_TRUE(p.WaitPending());
    const HANDLE first = p.OpenHandle();
    ASSERT_TRUE(p.Device.Fire(EV_RXCHAR | EV_TXEMPTY));
    ASSERT_EQ(::WaitForSingleObject(inHandler, 10000), WAIT_OBJECT_0);
    std::function<bool(std::uint32_t)> finished = TComThread::FinishWaiter(*p.Port->EventThread());

    const auto start = Clock::now();
    EXPECT_TRUE(p.Port->Close());
    const int took = MsSince(start);
    RecordProperty("CloseLettingGoMs", took);
    EXPECT_LT(took, static_cast<int>(TComThread::JoinGraceMs + TComThread::LetGoGraceMs) + 1000);
    EXPECT_FALSE(finished(0));

    ASSERT_TRUE(p.Port->Open());
    ASSERT_TRUE(p.WaitPending(2));
    HANDLE second = INVALID_HANDLE_VALUE;
    p.Device.WaitUntil([&] {
        second = p.Device.WaitsStarted.back();
        return true;
    });
    EXPECT_NE(second, first); // the first is still held by the thread let go

    ::SetEvent(release);
    ASSERT_TRUE(finished(10000));
    finished = nullptr; // what the thread held goes with it: its device among it
    EXPECT_EQ(rx, 1);
    EXPECT_EQ(txEmpty, 0);
    EXPECT_TRUE(p.Device.WaitUntil([&] { return p.Device.Open.count(first) == 0; }));
    p.Device.WaitUntil([&] {
        EXPECT_EQ(p.Device.Count("SetCommMask 0", second), 0);
        EXPECT_EQ(p.Device.Count("WaitCommEvent", second), 1);
        EXPECT_EQ(p.Device.Count("WaitCommEvent", first), 1);
        EXPECT_EQ(p.Device.Count("CloseHandle", first), 1);
        EXPECT_EQ(p.Device.Open.count(second), 1U);
        return true;
    });
    EXPECT_TRUE(p.Port->Close());
    EXPECT_EQ(p.Device.OnClosedHandle, 0);
    ::CloseHandle(release);
    ::CloseHandle(inHandler);
}

} // namespace
