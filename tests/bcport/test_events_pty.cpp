// The event thread on real pseudo-terminals: received bytes reach OnRxChar with their count
// and still reach ReceiveString, a written frame gives one OnTxEmpty, an idle pty gives no
// event and costs no CPU, Open/Close leaks no thread and no descriptor, and a pty whose
// master goes away (a pulled adapter) makes the thread end quietly.
#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <dirent.h>
#include <mutex>
#include <string>
#include <thread>

#include "BCPort.h"
#include "ComTestHelpers.h"
#include "ComThread.h"
#include "ComUiThread.h"
#include "PtyPair.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuMs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

std::size_t Entries(const char* dir) {
    std::size_t n = 0;
    if (DIR* d = opendir(dir)) {
        while (readdir(d) != nullptr) {
            ++n;
        }
        closedir(d);
    }
    return n;
}

// Counts what the handlers saw; a test waits for a condition on it.
struct Seen {
    std::mutex Lock;
    std::condition_variable Changed;
    std::int32_t RxBytes = 0;
    int RxCalls = 0, ZeroCounts = 0, TxEmpty = 0, Others = 0;

    template <class F> bool WaitFor(F done, int limitMs = 5000) {
        std::unique_lock<std::mutex> lock(Lock);
        return Changed.wait_for(lock, std::chrono::milliseconds(limitMs), done);
    }
    void Note(const std::function<void()>& change) {
        std::lock_guard<std::mutex> lock(Lock);
        change();
        Changed.notify_all();
    }
    void Attach(TBComPort& port) {
        port.OnRxChar = [this](TBComPort&, std::int32_t n) {
            Note([&] {
                RxBytes += n;
                ++RxCalls;
                ZeroCounts += n <= 0 ? 1 : 0;
            });
        };
        port.OnTxEmpty = [this](TBComPort&) { Note([&] { ++TxEmpty; }); };
        const auto other = [this](TBComPort&) { Note([&] { ++Others; }); };
        const auto signal = [this](TBComPort&, bool) { Note([&] { ++Others; }); };
        port.OnRing = other;
        port.OnRx80Full = other;
        port.OnCTSChange = signal;
        port.OnDSRChange = signal;
        port.OnRLSDChange = signal;
        port.OnError = [this](TBComPort&, TComErrors) { Note([&] { ++Others; }); };
    }
};

class EventsOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        Port.SetPort(Pty.SlavePath);
        StoredSettings(Port);
        Port.SetBaudRate(TBaudRate::br115200);
        Port.SetUiThread(&Ui);
    }
    PtyPair Pty;
    TComUiQueue Ui;
    Seen Handlers; // outlives the port, whose Close may still run a dispatch
    TBComPort Port;
};

TEST_F(EventsOnPty, ReceivedBytesReachOnRxCharWithTheirCount) {
    Port.SetSyncMethod(TSyncMethod::smNone);
    Handlers.Attach(Port);
    ASSERT_TRUE(Port.Open());
    Pty.Send("hello");
    ASSERT_TRUE(Handlers.WaitFor([&] { return Handlers.RxBytes >= 5; }));
    // Nothing was read: the first call saw all five, later edges see no new bytes.
    EXPECT_EQ(Handlers.RxCalls, 1);
    EXPECT_EQ(Handlers.ZeroCounts, 0);
    std::string text;
    EXPECT_EQ(Port.ReceiveString(text, 40), 5);
    EXPECT_EQ(text, "hello");
    Pty.Send("!");
    ASSERT_TRUE(Handlers.WaitFor([&] { return Handlers.RxCalls == 2; }));
    EXPECT_EQ(Handlers.RxBytes, 6);
    EXPECT_EQ(Handlers.Others, 0);
}

TEST_F(EventsOnPty, ReceiveStringGetsEveryByteWhateverTheMethod) {
    for (const TSyncMethod method :
         {TSyncMethod::smThreadSync, TSyncMethod::smWindowSync, TSyncMethod::smNone}) {
        Port.SetSyncMethod(method);
        Handlers.Attach(Port);
        ASSERT_TRUE(Port.Open());
        for (int round = 0; round < 20; ++round) {
            const std::string reply = "g85" + std::to_string(round) + std::string(30, 'R') + ";";
            Pty.Send(reply);
            std::string got;
            // Dispatches run now and then, between transfers, as in the window.
            Ui.RunPending();
            for (int tries = 0; got.size() < reply.size() && tries < 100; ++tries) {
                std::string part;
                Port.ReceiveString(part, static_cast<std::int32_t>(reply.size() - got.size()));
                got += part;
            }
            EXPECT_EQ(got, reply);
        }
        EXPECT_TRUE(Port.Close());
        Ui.RunPending();
        EXPECT_EQ(Handlers.ZeroCounts, 0) << static_cast<int>(method);
    }
}

TEST_F(EventsOnPty, WrittenFrameGivesOneTxEmptyAndNoOtherEvent) {
    Port.SetSyncMethod(TSyncMethod::smNone);
    Handlers.Attach(Port);
    ASSERT_TRUE(Port.Open());
    EXPECT_EQ(Port.SendString("g0101;"), 6);
    ASSERT_TRUE(Handlers.WaitFor([&] { return Handlers.TxEmpty == 1; }));
    EXPECT_EQ(Pty.Take(6), "g0101;");
    EXPECT_EQ(Handlers.RxCalls, 0);
    EXPECT_EQ(Handlers.Others, 0);
}

TEST_F(EventsOnPty, InputQueuePassingEightyPercentOfInBufSizeIsReportedOnce) {
    Port.SetSyncMethod(TSyncMethod::smNone);
    Port.SetInBufSize(1000); // the mark is 800 bytes
    Handlers.Attach(Port);
    ASSERT_TRUE(Port.Open());
    Pty.Send(std::string(700, 'a'));
    ASSERT_TRUE(Handlers.WaitFor([&] { return Handlers.RxBytes >= 700; }));
    EXPECT_EQ(Handlers.Others, 0);
    Pty.Send(std::string(200, 'b'));
    ASSERT_TRUE(Handlers.WaitFor([&] { return Handlers.Others == 1; }));
    int calls = 0;
    Handlers.Note([&] { calls = Handlers.RxCalls; });
    Pty.Send("c");
    ASSERT_TRUE(Handlers.WaitFor([&] { return Handlers.RxCalls > calls; }));
    EXPECT_EQ(Handlers.Others, 1); // still above the mark: not again
}

TEST_F(EventsOnPty, IdlePtyGivesNoEventAndNoBusyLoop) {
    Port.SetSyncMethod(TSyncMethod::smNone);
    Handlers.Attach(Port);
    ASSERT_TRUE(Port.Open());
    clockid_t thread{};
    ASSERT_EQ(pthread_getcpuclockid(Port.EventThread()->NativeHandle(), &thread), 0);
    const double cpuBefore = CpuMs(thread);
    const auto start = Clock::now();
    // A measurement window, not a synchronisation: the thread must stay asleep in it.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const double cpuMs = CpuMs(thread) - cpuBefore;
    EXPECT_LT(cpuMs, wallMs * 0.05);
    std::lock_guard<std::mutex> lock(Handlers.Lock);
    EXPECT_EQ(Handlers.RxCalls + Handlers.TxEmpty + Handlers.Others, 0);
}

TEST_F(EventsOnPty, OpenCloseThousandTimesLeaksNoThreadAndNoDescriptor) {
    ASSERT_TRUE(Port.Open());
    ASSERT_TRUE(Port.Close());
    const std::size_t fds = Entries("/proc/self/fd");
    const std::size_t threads = Entries("/proc/self/task");
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(Port.Open());
        ASSERT_NE(Port.EventThread(), nullptr);
        ASSERT_TRUE(Port.Close());
    }
    EXPECT_EQ(Entries("/proc/self/fd"), fds);
    EXPECT_EQ(Entries("/proc/self/task"), threads);
}

TEST_F(EventsOnPty, BytesQueuedAtCloseAreDiscarded) {
    ASSERT_TRUE(Port.Open());
    Pty.Send("stale");
    ASSERT_TRUE(Pty.WaitQueuedOnSlave());
    ASSERT_TRUE(Port.Close());
    ASSERT_TRUE(Port.Open());
    EXPECT_EQ(Port.InQueueCount(), 0);
}

TEST_F(EventsOnPty, CloseWhileThreadSyncDispatchWaitsReturns) {
    Port.SetSyncMethod(TSyncMethod::smThreadSync);
    Handlers.Attach(Port);
    ASSERT_TRUE(Port.Open());
    Pty.Send("abc");
    ASSERT_TRUE(Ui.WaitQueued(std::chrono::seconds(5)));
    const auto start = Clock::now();
    EXPECT_TRUE(Port.Close()); // this thread never ran the queue
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0);
    EXPECT_FALSE(Port.IsOpen());
    // Close discarded the bytes before it ran the waiting dispatch: it found none to report.
    EXPECT_EQ(Handlers.RxCalls, 0);
    EXPECT_EQ(Ui.RunPending(), 1U);
    EXPECT_EQ(Handlers.RxCalls, 0);
}

TEST_F(EventsOnPty, PulledAdapterEndsTheThreadWithoutSpinning) {
    Port.SetSyncMethod(TSyncMethod::smThreadSync);
    ASSERT_TRUE(Port.Open());
    const double cpuBefore = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
    const auto start = Clock::now();
    ::close(Pty.Master);
    Pty.Master = -1;
    ASSERT_TRUE(Port.EventThread()->WaitFinished(5000));
    // Measured over at least a second.
    std::this_thread::sleep_until(start + std::chrono::seconds(1));
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_LT(CpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore, wallMs * 0.05);
    EXPECT_TRUE(Ui.Shown.empty());
    // The next transfer reports the loss.
    EXPECT_EQ(MessageOf([&] { Port.SendString("g0101;"); }), 3);
    EXPECT_TRUE(Port.Close());
}

TEST_F(EventsOnPty, EmptyPortNameIsAPortThatDoesNotExist) {
    Port.SetPort("");
    EXPECT_EQ(MessageOf([&] { Port.Open(); }), 1);
    EXPECT_FALSE(Port.IsOpen());
    EXPECT_EQ(Port.EventThread(), nullptr);
}

} // namespace
