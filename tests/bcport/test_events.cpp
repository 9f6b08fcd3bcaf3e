// The event thread over the recording layer: the order of events present together, the
// error-flag and modem-line mappings, the thread each delivery method runs the handlers on,
// the handler-exception rules, Close while a dispatch waits, and the back-off of a wait that
// keeps failing.  Also the write's wait for the line, on the layer's made-up clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "BCPort.h"
#include "ComOs.h"
#include "ComTestHelpers.h"
#include "ComThread.h"
#include "ComTiming.h"
#include "ComUiThread.h"
#include "RecordingComOs.h"

namespace {

using Names = std::vector<std::string>;

constexpr std::uint32_t AllEvents = ComEvRxChar | ComEvTxEmpty | ComEvCts | ComEvDsr | ComEvRlsd |
                                    ComEvErr | ComEvRing | ComEvRx80Full;

struct Recorded {
    explicit Recorded(TSyncMethod method = TSyncMethod::smNone) {
        auto layer = std::make_unique<RecordingComOs>();
        Os = layer.get();
        Port = std::make_unique<TBComPort>(std::move(layer));
        Port->SetSyncMethod(method);
        Port->SetUiThread(&Ui);
    }
    // Delivers `mask` and waits until the event thread is back in its wait, running what it
    // posts to the user-interface side on this thread meanwhile.
    void Deliver(std::uint32_t mask) {
        Os->PushEvents(mask);
        if (Port->SyncMethod() == TSyncMethod::smNone) {
            ASSERT_TRUE(Os->WaitUntilIdle());
            return;
        }
        ASSERT_TRUE(Ui.WaitQueued(std::chrono::seconds(5)));
        Ui.RunPending();
        // smWindowSync posts one message per event.
        while (!Os->WaitUntilIdle(std::chrono::milliseconds(0))) {
            if (Ui.WaitQueued(std::chrono::milliseconds(50))) {
                Ui.RunPending();
            }
        }
        Ui.RunPending();
    }
    TComUiQueue Ui;
    RecordingComOs* Os;
    std::unique_ptr<TBComPort> Port;
};

// Every handler appends its name (and argument) to `seen`.
void RecordAll(TBComPort& port, Names& seen) {
    port.OnError = [&](TBComPort&, TComErrors e) { seen.push_back("Error " + std::to_string(e)); };
    port.OnRxChar = [&](TBComPort&, std::int32_t n) {
        seen.push_back("RxChar " + std::to_string(n));
    };
    port.OnTxEmpty = [&](TBComPort&) { seen.push_back("TxEmpty"); };
    port.OnRing = [&](TBComPort&) { seen.push_back("Ring"); };
    port.OnCTSChange = [&](TBComPort&, bool s) {
        seen.push_back(std::string("CTS ") + (s ? "1" : "0"));
    };
    port.OnDSRChange = [&](TBComPort&, bool s) {
        seen.push_back(std::string("DSR ") + (s ? "1" : "0"));
    };
    port.OnRLSDChange = [&](TBComPort&, bool s) {
        seen.push_back(std::string("RLSD ") + (s ? "1" : "0"));
    };
    port.OnRx80Full = [&](TBComPort&) { seen.push_back("Rx80Full"); };
}

TEST(ComEvents, EventSetAndSystemMaskConvertBothWays) {
    EXPECT_EQ(PortEventsToMask(AllPortEvents), AllEvents);
    EXPECT_EQ(PortEventsToMask(AllPortEvents), 1469U);
    EXPECT_EQ(MaskToPortEvents(AllEvents | 0x0002 | 0x0040 | 0x0200), AllPortEvents);
    EXPECT_EQ(MaskToPortEvents(ComEvRing), PortEventBit(TPortEvent::evRing));
    EXPECT_EQ(PortEventBit(TPortEvent::evRx80Full), 0x80);
    TBComPort port(std::make_unique<RecordingComOs>());
    EXPECT_EQ(port.WatchedEvents(), AllPortEvents);
    EXPECT_EQ(port.ThreadPriority(), TThreadPriority::tpNormal);
    EXPECT_EQ(port.EventThread(), nullptr);
}

TEST(ComEvents, SimultaneousEventsInFixedOrderInEveryMethod) {
    for (const TSyncMethod method :
         {TSyncMethod::smNone, TSyncMethod::smThreadSync, TSyncMethod::smWindowSync}) {
        Recorded r(method);
        Names seen;
        RecordAll(*r.Port, seen);
        r.Os->Errors = ComCeFrame;
        r.Os->Incoming = "abc";
        r.Os->Modem = ComModemCts | ComModemRlsd;
        ASSERT_TRUE(r.Port->Open());
        ASSERT_NE(r.Port->EventThread(), nullptr);
        EXPECT_EQ(r.Port->EventWindow() != nullptr, method == TSyncMethod::smWindowSync);
        r.Deliver(AllEvents);
        EXPECT_EQ(seen, (Names{"Error 1", "RxChar 3", "TxEmpty", "Ring", "CTS 1", "DSR 0", "RLSD 1",
                               "Rx80Full"}))
            << static_cast<int>(method);
        EXPECT_EQ(r.Port->EventThread()->OccurredEvents(), AllPortEvents);
        EXPECT_TRUE(r.Port->Close());
        EXPECT_EQ(r.Port->EventThread(), nullptr);
        EXPECT_EQ(r.Port->EventWindow(), nullptr);
    }
}

TEST(ComEvents, ErrorFlagsMapToComErrors) {
    struct Case {
        std::uint32_t Flags;
        TParity Parity;
        TComErrors Expected; // 0: OnError is not called
    };
    const Case cases[] = {
        {ComCeFrame, TParity::paNone, ComErrorBit(TComError::ceFrame)},
        {ComCeRxParity, TParity::paNone, 0},
        {ComCeRxParity, TParity::paEven, ComErrorBit(TComError::ceRxParity)},
        {ComCeOverrun, TParity::paNone, ComErrorBit(TComError::ceOverrun)},
        {ComCeBreak, TParity::paNone, ComErrorBit(TComError::ceBreak)},
        {ComCeIoe, TParity::paNone, ComErrorBit(TComError::ceIO)},
        {ComCeMode, TParity::paNone, ComErrorBit(TComError::ceMode)},
        {ComCeRxOver, TParity::paNone, ComErrorBit(TComError::ceRxOver)},
        {ComCeTxFull, TParity::paNone, ComErrorBit(TComError::ceTxFull)},
        {0x0040 | 0x0080 | 0x0200, TParity::paOdd, 0}, // flags without a member
        {ComCeFrame | ComCeRxParity | ComCeOverrun, TParity::paMark, 0x07},
        {0xFFFF, TParity::paSpace, 0xFF},
    };
    Recorded r;
    std::vector<TComErrors> seen;
    r.Port->OnError = [&](TBComPort&, TComErrors e) { seen.push_back(e); };
    for (const Case& c : cases) {
        r.Port->SetParity(c.Parity);
        r.Port->Open();
        seen.clear();
        r.Os->Errors = c.Flags;
        r.Deliver(ComEvErr);
        const std::vector<TComErrors> expected =
            c.Expected == 0 ? std::vector<TComErrors>{} : std::vector<TComErrors>{c.Expected};
        EXPECT_EQ(seen, expected) << std::hex << c.Flags;
        r.Port->Close();
    }
}

TEST(ComEvents, ModemLineEventsReadTheirLine) {
    struct Case {
        std::uint32_t Modem;
        Names Expected;
    };
    const Case cases[] = {
        {0, {"CTS 0", "DSR 0", "RLSD 0"}},
        {ComModemCts, {"CTS 1", "DSR 0", "RLSD 0"}},
        {ComModemDsr | ComModemRing, {"CTS 0", "DSR 1", "RLSD 0"}},
        {ComModemRlsd, {"CTS 0", "DSR 0", "RLSD 1"}},
    };
    Recorded r;
    Names seen;
    RecordAll(*r.Port, seen);
    r.Port->Open();
    for (const Case& c : cases) {
        seen.clear();
        r.Os->Modem = c.Modem;
        r.Deliver(ComEvCts | ComEvDsr | ComEvRlsd);
        EXPECT_EQ(seen, c.Expected) << c.Modem;
    }
}

TEST(ComEvents, ReceivedBytesAskTheQueueEvenWithoutHandlerAndNeverReportZero) {
    Recorded r;
    r.Port->Open();
    r.Os->Incoming = "xy";
    r.Os->Forget();
    r.Deliver(ComEvRxChar | ComEvTxEmpty | ComEvCts); // no handler assigned
    EXPECT_EQ(r.Os->CallsNow(), Names{"InQueueCount"});

    std::vector<std::int32_t> counts;
    r.Port->Close();
    r.Port->OnRxChar = [&](TBComPort&, std::int32_t n) { counts.push_back(n); };
    r.Port->Open();
    r.Os->Incoming.clear(); // a transfer took the bytes before the dispatch
    r.Deliver(ComEvRxChar);
    r.Os->Incoming = "12345";
    r.Deliver(ComEvRxChar);
    EXPECT_EQ(counts, std::vector<std::int32_t>{5});
}

TEST(ComEvents, EachMethodRunsHandlersOnTheThreadItNames) {
    for (const TSyncMethod method :
         {TSyncMethod::smNone, TSyncMethod::smThreadSync, TSyncMethod::smWindowSync}) {
        Recorded r(method);
        std::thread::id ran;
        r.Port->OnRing = [&](TBComPort&) { ran = std::this_thread::get_id(); };
        r.Port->Open();
        r.Deliver(ComEvRing);
        EXPECT_EQ(ran == std::this_thread::get_id(), method != TSyncMethod::smNone)
            << static_cast<int>(method);
        EXPECT_NE(ran, std::thread::id{});
    }
}

TEST(ComEvents, HandlerExceptionFollowsTheRuleOfItsMethod) {
    for (const TSyncMethod method :
         {TSyncMethod::smNone, TSyncMethod::smThreadSync, TSyncMethod::smWindowSync}) {
        Recorded r(method);
        int rings = 0;
        r.Port->OnRing = [&](TBComPort&) {
            ++rings;
            throw std::runtime_error("handler failed");
        };
        r.Port->Open();
        r.Os->PushEvents(ComEvRing);
        if (method != TSyncMethod::smNone) {
            ASSERT_TRUE(r.Ui.WaitQueued(std::chrono::seconds(5)));
            r.Ui.RunPending();
        }
        if (method == TSyncMethod::smWindowSync) {
            // Shown to the user; the thread goes on and delivers the next event.
            ASSERT_EQ(r.Ui.Shown.size(), 1U);
            r.Deliver(ComEvRing);
            EXPECT_EQ(rings, 2);
            EXPECT_FALSE(r.Port->EventThread()->Finished());
            EXPECT_EQ(r.Ui.Shown.size(), 2U);
        } else {
            // The thread ends without a message; the port stays open for transfers.
            EXPECT_TRUE(r.Port->EventThread()->WaitFinished(5000)) << static_cast<int>(method);
            EXPECT_TRUE(r.Ui.Shown.empty());
            EXPECT_EQ(rings, 1);
            EXPECT_TRUE(r.Port->IsOpen());
            EXPECT_EQ(r.Port->SendString("g0101;"), 6);
            r.Os->Forget();
            EXPECT_TRUE(r.Port->Close());
            // Ended by the exception: the mask is cleared but the queues are left alone.
            EXPECT_EQ(r.Os->CallsNow(), (Names{"Escape 6", "Escape 4", "Purge", "CloseDevice"}))
                << static_cast<int>(method);
        }
    }
}

TEST(ComEvents, CloseWhileDispatchWaitsForTheUserInterfaceReturns) {
    for (const TSyncMethod method : {TSyncMethod::smThreadSync, TSyncMethod::smWindowSync}) {
        Recorded r(method);
        Names seen;
        RecordAll(*r.Port, seen);
        r.Port->Open();
        r.Os->Modem = ComModemCts;
        r.Os->PushEvents(ComEvCts);
        // The dispatch waits for this thread, which does not run the queue but closes.
        ASSERT_TRUE(r.Ui.WaitQueued(std::chrono::seconds(5)));
        EXPECT_TRUE(r.Port->Close());
        EXPECT_FALSE(r.Port->IsOpen());
        // Close served the waiting dispatch on this thread; the late queued call finds nothing.
        EXPECT_EQ(seen, Names{"CTS 1"}) << static_cast<int>(method);
        r.Ui.RunPending();
        EXPECT_EQ(seen, Names{"CTS 1"});
    }
}

TEST(ComEvents, CloseFromInsideASynchronisedHandlerReturns) {
    Recorded r(TSyncMethod::smThreadSync);
    bool closed = false;
    r.Port->OnRing = [&](TBComPort& port) { closed = port.Close(); };
    Names seen;
    r.Port->OnRx80Full = [&](TBComPort&) { seen.push_back("Rx80Full"); };
    r.Port->Open();
    r.Os->PushEvents(ComEvRing | ComEvRx80Full);
    ASSERT_TRUE(r.Ui.WaitQueued(std::chrono::seconds(5)));
    r.Ui.RunPending();
    EXPECT_TRUE(closed);
    EXPECT_FALSE(r.Port->IsOpen());
    EXPECT_TRUE(seen.empty()); // the port closed: the rest of the dispatch is not run
}

TEST(ComEvents, FailingWaitBacksOffAndEndsQuietly) {
    Recorded r(TSyncMethod::smThreadSync);
    r.Port->Open();
    for (int i = 0; i < 10; ++i) {
        r.Os->PushFailure();
    }
    ASSERT_TRUE(r.Port->EventThread()->WaitFinished(5000));
    EXPECT_EQ(r.Os->Pauses, (std::vector<std::uint32_t>{20, 40, 80, 160, 320}));
    EXPECT_TRUE(r.Ui.Shown.empty());
    EXPECT_TRUE(r.Port->IsOpen());
    EXPECT_TRUE(r.Port->Close());

    // A success in between starts the count again.
    Recorded again(TSyncMethod::smNone);
    again.Port->Open();
    for (int i = 0; i < 4; ++i) {
        again.Os->PushFailure();
    }
    again.Os->PushEvents(ComEvRing);
    again.Os->PushFailure();
    ASSERT_TRUE(again.Os->WaitUntilIdle());
    EXPECT_EQ(again.Os->Pauses, (std::vector<std::uint32_t>{20, 40, 80, 160, 20}));
    EXPECT_FALSE(again.Port->EventThread()->Finished());
}

// A wait that ends with no event (Windows reports an error so; a failing driver may do it
// at once, again and again) pauses before the next wait, and is no success: the failures
// before it still count.
TEST(ComEvents, EmptyWaitsPauseAndLeaveTheFailureCount) {
    Recorded r(TSyncMethod::smNone);
    r.Port->Open();
    for (int i = 0; i < 3; ++i) {
        r.Os->PushEvents(0);
    }
    for (int i = 0; i < 4; ++i) {
        r.Os->PushFailure();
    }
    r.Os->PushEvents(0);
    r.Os->PushFailure();
    ASSERT_TRUE(r.Os->WaitUntilIdle());
    EXPECT_EQ(r.Os->Pauses, (std::vector<std::uint32_t>{20, 20, 20, 20, 40, 80, 160, 20, 320}));
    EXPECT_FALSE(r.Port->EventThread()->Finished());
    r.Os->PushFailure(); // the sixth in a row
    ASSERT_TRUE(r.Port->EventThread()->WaitFinished(5000));
}

// A thread that ends while the port stays open leaves the driver's queues alone: they may
// hold the reply being read or the rest of a write.  Close empties them.
TEST(ComEvents, AThreadThatEndsOnItsOwnLeavesTheQueuesToClose) {
    Recorded r(TSyncMethod::smThreadSync);
    r.Port->Open();
    for (int i = 0; i < 6; ++i) {
        r.Os->PushFailure();
    }
    ASSERT_TRUE(r.Port->EventThread()->WaitFinished(5000));
    const auto discards = [&] {
        const Names calls = r.Os->CallsNow();
        return std::count(calls.begin(), calls.end(), std::string("DiscardQueues"));
    };
    EXPECT_EQ(discards(), 0);
    EXPECT_TRUE(r.Port->Close());
    EXPECT_EQ(discards(), 1);
}

// A driver that does not answer the thread's way out (a pulled adapter): Close waits for the
// thread a bounded time, lets it go, and the thread makes no further call on the port.
TEST(ComEvents, CloseLetsAThreadStuckInTheDriverGo) {
    Recorded r;
    r.Port->Open();
    std::mutex lock;
    std::condition_variable changed;
    bool answer = false;
    r.Os->InSetEventMask = [&](std::uint32_t mask) {
        std::unique_lock<std::mutex> held(lock);
        // Released by the test below; 10 s only ends a Close that would wait for ever.
        changed.wait_for(held, std::chrono::seconds(10), [&] { return answer || mask != 0; });
    };
    const auto finished = TComThread::FinishWaiter(*r.Port->EventThread());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(r.Port->Close());
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(TComThread::JoinGraceMs + 2000));
    EXPECT_FALSE(r.Port->IsOpen());
    EXPECT_FALSE(finished(0));
    {
        std::lock_guard<std::mutex> held(lock);
        answer = true;
    }
    changed.notify_all();
    ASSERT_TRUE(finished(5000));
    const Names calls = r.Os->CallsNow();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "DiscardQueues"), 0);
    // The port opens again with a thread of its own.
    r.Os->InSetEventMask = nullptr;
    EXPECT_TRUE(r.Port->Open());
    EXPECT_TRUE(r.Port->Close());
}

TEST(ComEvents, ThreadThatCannotStartLeavesThePortClosed) {
    Recorded r;
    r.Os->Failing = {"CreateEventWait"};
    EXPECT_THROW(r.Port->Open(), std::system_error);
    EXPECT_FALSE(r.Port->IsOpen());
    EXPECT_FALSE(r.Os->DeviceOpen);
    EXPECT_EQ(r.Port->EventThread(), nullptr);
    r.Os->Failing.clear();
    EXPECT_TRUE(r.Port->Open());
}

TEST(ComEvents, WindowProcedureIgnoresOtherMessagesCodesAndAClosedPort) {
    Recorded r(TSyncMethod::smWindowSync);
    Names seen;
    RecordAll(*r.Port, seen);
    r.Port->EventWindowProc(1025, ComEvRing); // closed: nothing
    r.Port->Open();
    r.Port->EventWindowProc(1024, ComEvRing);
    r.Port->EventWindowProc(1025, 0x0002);
    r.Port->EventWindowProc(1025, ComEvRing | ComEvTxEmpty);
    EXPECT_TRUE(seen.empty());
    r.Port->EventWindowProc(1025, ComEvRing);
    r.Port->EventWindowProc(1025, ComEvRx80Full);
    EXPECT_EQ(seen, (Names{"Ring", "Rx80Full"}));
    // A failing status query is shown, not thrown.
    r.Os->Failing = {"InQueueCount"};
    r.Port->OnRxChar = [](TBComPort&, std::int32_t) {};
    EXPECT_NO_THROW(r.Port->EventWindowProc(1025, ComEvRxChar));
    ASSERT_EQ(r.Ui.Shown.size(), 1U);
    EXPECT_EQ(MessageOf([&] { std::rethrow_exception(r.Ui.Shown[0]); }), 11);
}

// --- The write's wait for the line, on the made-up clock ---

struct WriteCase {
    Recorded R;
    std::uint64_t Start = 0;
    WriteCase() {
        StoredSettings(*R.Port);
        R.Port->Open();
        Start = R.Os->Now;
    }
    std::uint64_t Elapsed() const { return R.Os->Now - Start; }
};

constexpr std::uint64_t Frame136At9600 = 141666667; // 136 bytes of 10 bits
constexpr std::uint64_t Ms = 1000000;

TEST(ComWriteWait, EndsAtTheLineTimeWhenTheDriverSaysEmptyAtOnce) {
    WriteCase w;
    EXPECT_EQ(w.R.Port->SendString(std::string(136, 'A')), 136);
    EXPECT_EQ(w.Elapsed(), Frame136At9600);
}

TEST(ComWriteWait, EndsWhenTheQueueEmptiesLater) {
    WriteCase w;
    const std::uint64_t emptyAt = w.Start + Frame136At9600 + 7 * Ms + 300000;
    w.R.Os->OutQueue = [&](std::uint64_t now) { return now < emptyAt ? 40U : 0U; };
    EXPECT_EQ(w.R.Port->SendString(std::string(136, 'A')), 136);
    EXPECT_GE(w.R.Os->Now, emptyAt);
    EXPECT_LE(w.R.Os->Now, emptyAt + Ms);
    // Never a sleep past the line time, then steps of at most 1 ms.
    ASSERT_FALSE(w.R.Os->Sleeps.empty());
    EXPECT_EQ(w.R.Os->Sleeps.front(), Frame136At9600);
    for (std::size_t i = 1; i < w.R.Os->Sleeps.size(); ++i) {
        EXPECT_LE(w.R.Os->Sleeps[i], Ms);
    }
}

TEST(ComWriteWait, AQueueThatNeverDrainsEndsTheWaitNotTheWrite) {
    struct Case {
        std::int32_t WriteMultiplier;
        std::int32_t WriteConstant;
        std::uint64_t Wait; // from the start of the write
    };
    const Case cases[] = {
        // 137 ms configured, plus twice the line time, plus 50 ms.
        {1, 1, 137 * Ms + 2 * Frame136At9600 + 50 * Ms},
        // No budget: the line time, then 1 s.
        {0, 0, Frame136At9600 + 1000 * Ms},
    };
    for (const Case& c : cases) {
        WriteCase w;
        w.R.Port->Timeouts().SetWriteTotalMultiplier(c.WriteMultiplier);
        w.R.Port->Timeouts().SetWriteTotalConstant(c.WriteConstant);
        // The driver holds 3 bytes back (for good: 60 s ends the test, not the wait).
        const std::uint64_t giveUp = w.Start + 60000 * Ms;
        w.R.Os->OutQueue = [&](std::uint64_t now) { return now < giveUp ? 3U : 0U; };
        // The system reported all 136 bytes written: that is the result.
        EXPECT_EQ(w.R.Port->SendString(std::string(136, 'A')), 136) << c.WriteConstant;
        EXPECT_EQ(w.Elapsed(), c.Wait) << c.WriteConstant;
        EXPECT_TRUE(w.R.Port->IsOpen());
    }
}

TEST(ComWriteWait, OverReportingDriverCostsAtMostTheLineTime) {
    WriteCase w;
    w.R.Os->OutQueue = [](std::uint64_t) { return 4096U; }; // kilobytes for 136 bytes
    EXPECT_EQ(w.R.Port->SendString(std::string(136, 'A')), 136);
    EXPECT_EQ(w.Elapsed(), Frame136At9600);
}

TEST(ComWriteWait, LineTimeCountsStartDataParityAndStopBits) {
    struct Case {
        TByteSize Size;
        TParity Parity;
        TStopBits Stop;
        std::uint64_t HalfBits;
    };
    const Case cases[] = {
        {TByteSize::bs8, TParity::paNone, TStopBits::sb1, 20},
        {TByteSize::bs7, TParity::paEven, TStopBits::sb2, 22},
        {TByteSize::bs5, TParity::paOdd, TStopBits::sb1_5, 17},
        {TByteSize::bs8, TParity::paMark, TStopBits::sb2, 24},
    };
    for (const Case& c : cases) {
        WriteCase w;
        w.R.Port->SetBaudRate(TBaudRate::br115200);
        w.R.Port->SetByteSize(c.Size);
        w.R.Port->SetParity(c.Parity);
        w.R.Port->SetStopBits(c.Stop);
        w.R.Port->SendString(std::string(1000, 'B'));
        EXPECT_EQ(w.Elapsed(), (1000 * c.HalfBits * 1000000000ULL + 230399) / 230400) << c.HalfBits;
    }
}

} // namespace
