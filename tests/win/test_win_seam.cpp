// The Windows layer against drivers that Wine cannot play, through its table of Win32 calls:
// an event wait that ignores its cancel and completes 2 s later, a line error taken by the
// layer's own queue look, a system without the high-resolution timer.  The component runs
// over a recording layer whose event wait, queue counts, error flags and sleeps are the
// Windows layer's.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BCPort.h"
#include "ComOs.h"
#include "ComOsWin32.h"
#include "ComTiming.h"
#include "PortInfoWin32.h"
#include "RecordingComOs.h"
#include "WinDeviceKeys.h"

namespace {

// What the fake driver does and saw.  One at a time: the table holds plain functions.
struct FakeDriver {
    std::mutex Lock;
    std::condition_variable Changed;
    OVERLAPPED* PendingWait = nullptr; // the wait the driver holds
    DWORD* PendingMask = nullptr;
    std::vector<std::thread> Late; // completions written after the layer gave up
    std::atomic<int> Cancels{0};
    std::atomic<DWORD> NextErrors{0}; // CE_* flags the next ClearCommError reports
    bool TimerFails = false;
    std::vector<UINT> PeriodCalls;      // +n timeBeginPeriod(n), -n timeEndPeriod(n)
    std::vector<DWORD> MaskChanges;     // SetCommMask calls, in order (one thread at a time)
    OVERLAPPED* PendingWrite = nullptr; // a write the driver holds
    const void* WrittenFrom = nullptr;  // the bytes that write was given

    ~FakeDriver() {
        for (std::thread& t : Late) {
            t.join();
        }
    }
};
FakeDriver* Driver = nullptr;

// Never completes by itself: 2 s after the layer's cancel the wait ends at last and the
// driver writes its result into the OVERLAPPED and the mask word, as a pulled adapter's
// driver may.
BOOL WINAPI FakeWaitCommEvent(HANDLE, LPDWORD mask, LPOVERLAPPED overlapped) {
    std::lock_guard<std::mutex> lock(Driver->Lock);
    overlapped->Internal = static_cast<ULONG_PTR>(STATUS_PENDING);
    ::ResetEvent(overlapped->hEvent);
    Driver->PendingWait = overlapped;
    Driver->PendingMask = mask;
    Driver->Changed.notify_all();
    ::SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

// A write that its driver never ends by itself, whatever its time-outs.
BOOL WINAPI FakeWriteFile(HANDLE, LPCVOID data, DWORD, LPDWORD, LPOVERLAPPED overlapped) {
    std::lock_guard<std::mutex> lock(Driver->Lock);
    overlapped->Internal = static_cast<ULONG_PTR>(STATUS_PENDING);
    ::ResetEvent(overlapped->hEvent);
    Driver->PendingWrite = overlapped;
    Driver->WrittenFrom = data;
    ::SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL WINAPI FakeCancelIoEx(HANDLE, LPOVERLAPPED overlapped) {
    std::lock_guard<std::mutex> lock(Driver->Lock);
    if (overlapped != Driver->PendingWait && overlapped != Driver->PendingWrite) {
        ::SetLastError(ERROR_NOT_FOUND); // nothing of it is pending, as Windows answers
        return FALSE;
    }
    ++Driver->Cancels;
    DWORD* mask = overlapped == Driver->PendingWait ? Driver->PendingMask : nullptr;
    Driver->Late.emplace_back([overlapped, mask] {
        std::this_thread::sleep_for(std::chrono::seconds(2)); // the driver's own delay
        if (mask != nullptr) {
            *mask = ComEvRxChar;
        }
        overlapped->InternalHigh = 0;
        overlapped->Internal = 0xC0000120; // STATUS_CANCELLED
        ::SetEvent(overlapped->hEvent);
    });
    return TRUE; // accepted, and ignored
}

// The pulled adapter's driver takes a mask change and does not end its pending wait for it.
BOOL WINAPI FakeSetCommMask(HANDLE, DWORD mask) {
    Driver->MaskChanges.push_back(mask);
    return TRUE;
}

BOOL WINAPI FakeClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT status) {
    if (errors != nullptr) {
        *errors = Driver->NextErrors.exchange(0);
    }
    if (status != nullptr) {
        *status = COMSTAT{};
    }
    return TRUE;
}

HANDLE WINAPI FakeCreateWaitableTimerExW(LPSECURITY_ATTRIBUTES security, LPCWSTR name, DWORD flags,
                                         DWORD access) {
    if (Driver->TimerFails) {
        ::SetLastError(ERROR_INVALID_PARAMETER); // what Windows before 1803 answers
        return nullptr;
    }
    return ::CreateWaitableTimerExW(security, name, flags, access);
}

UINT WINAPI FakeTimeBeginPeriod(UINT ms) {
    Driver->PeriodCalls.push_back(static_cast<UINT>(ms));
    return SystemComWin32Api().TimeBeginPeriod(ms);
}

UINT WINAPI FakeTimeEndPeriod(UINT ms) {
    Driver->PeriodCalls.push_back(static_cast<UINT>(-static_cast<int>(ms)));
    return SystemComWin32Api().TimeEndPeriod(ms);
}

TComWin32Api FakeApi() {
    TComWin32Api api = SystemComWin32Api();
    api.WaitCommEvent = FakeWaitCommEvent;
    api.CancelIoEx = FakeCancelIoEx;
    api.SetCommMask = FakeSetCommMask;
    api.ClearCommError = FakeClearCommError;
    api.CreateWaitableTimerExW = FakeCreateWaitableTimerExW;
    api.TimeBeginPeriod = FakeTimeBeginPeriod;
    api.TimeEndPeriod = FakeTimeEndPeriod;
    return api;
}

// The recording layer with the Windows layer's event wait, event mask, queue counts, error
// flags, clock and sleep; the device itself is the recording one, so no port is needed.
class SeamOs final : public RecordingComOs {
public:
    explicit SeamOs(bool win32Wait) : Win32Wait(win32Wait), Win(CreateWin32ComOs(FakeApi())) {}

    std::unique_ptr<TComEventWait> CreateEventWait() override {
        return Win32Wait ? Win->CreateEventWait() : RecordingComOs::CreateEventWait();
    }
    bool SetEventMask(std::uint32_t mask) override {
        RecordingComOs::SetEventMask(mask);
        return Win->SetEventMask(mask);
    }
    bool InQueueCount(std::uint32_t& count) override { return Win->InQueueCount(count); }
    bool OutQueueCount(std::uint32_t& count) override { return Win->OutQueueCount(count); }
    bool ClearErrors(std::uint32_t& errors) override { return Win->ClearErrors(errors); }
    std::uint64_t NowNs() override { return MonotonicNs(); }
    void SleepNs(std::uint64_t ns) override { Win->SleepNs(ns); }

    // The Windows layer's own open and close (the timer resolution follows them); its
    // device is NUL, which answers no serial call.
    void OpenWin32() { ASSERT_EQ(Win->OpenDevice("NUL"), TComOpenResult::Ok); }
    void CloseWin32() { Win->CloseDevice(); }

private:
    bool Win32Wait;
    std::unique_ptr<TComOs> Win;
};

struct Seam {
    explicit Seam(bool win32Wait, TSyncMethod method = TSyncMethod::smNone) {
        Driver = &Fake;
        auto layer = std::make_unique<SeamOs>(win32Wait);
        Os = layer.get();
        Port = std::make_unique<TBComPort>(std::move(layer));
        Port->SetSyncMethod(method);
    }
    ~Seam() {
        Port.reset();
        Driver = nullptr;
    }
    FakeDriver Fake; // outlives the port: its late completions are joined last
    SeamOs* Os;
    std::unique_ptr<TBComPort> Port;
};

// Close while the event wait is pending on a driver that ignores both the mask change and
// the cancel: the layer waits for the wait's end about 1 s, then gives the OVERLAPPED and the
// mask up for good, so the completion that comes 2 s later writes into memory nobody else
// uses.
TEST(WinSeam, CloseGivesUpAnEventWaitThatIgnoresItsCancel) {
    Seam s(true);
    s.Os->OpenWin32();
    s.Port->Open();
    OVERLAPPED* pending = nullptr;
    {
        std::unique_lock<std::mutex> lock(s.Fake.Lock);
        ASSERT_TRUE(s.Fake.Changed.wait_for(lock, std::chrono::seconds(10),
                                            [&] { return s.Fake.PendingWait != nullptr; }));
        pending = s.Fake.PendingWait;
    }

    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(s.Port->Close());
    const auto took = std::chrono::steady_clock::now() - start;
    RecordProperty(
        "CloseMs",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    EXPECT_EQ(s.Fake.Cancels, 1);
    EXPECT_EQ(s.Fake.MaskChanges, (std::vector<DWORD>{0x05BD, 0})); // all eight, then none
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::milliseconds(1800)); // the driver answers only after 2 s
    EXPECT_TRUE(ComWin32Abandoned(pending));
    s.Os->CloseWin32();

    // The late completion lands in the kept block, which still holds its event.
    for (std::thread& t : s.Fake.Late) {
        t.join();
    }
    s.Fake.Late.clear();
    EXPECT_EQ(::WaitForSingleObject(pending->hEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(pending->Internal, 0xC0000120U);
}

// A write with a budget that its driver never ends, not even on its cancel: the layer gives
// it up about a second after the budget and once more after the cancel, as a failed write,
// and keeps the OVERLAPPED and the bytes it handed over, into which the driver writes 2 s
// later.
TEST(WinSeam, AWriteTheDriverNeverEndsIsGivenUpAndItsMemoryKept) {
    Seam s(false);
    TComWin32Api api = FakeApi();
    api.WriteFile = FakeWriteFile;
    const std::unique_ptr<TComOs> win = CreateWin32ComOs(api);
    ASSERT_EQ(win->OpenDevice("NUL"), TComOpenResult::Ok);
    const std::string frame = "g0101;";
    const auto start = std::chrono::steady_clock::now();
    const TComTransfer done = win->Write(frame.data(), frame.size(), 100 * 1000000ULL);
    const auto took = std::chrono::steady_clock::now() - start;
    RecordProperty(
        "GiveUpMs",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    EXPECT_FALSE(done.Ok); // the component raises its write error for it
    EXPECT_EQ(s.Fake.Cancels, 1);
    EXPECT_GE(took, std::chrono::milliseconds(2000)); // budget, grace, cancel grace
    EXPECT_LT(took, std::chrono::milliseconds(4000));
    ASSERT_NE(s.Fake.PendingWrite, nullptr);
    EXPECT_TRUE(ComWin32Abandoned(s.Fake.PendingWrite));
    EXPECT_NE(s.Fake.WrittenFrom, static_cast<const void*>(frame.data())); // the layer's copy
    for (std::thread& t : s.Fake.Late) {
        t.join();
    }
    s.Fake.Late.clear();
    EXPECT_EQ(::WaitForSingleObject(s.Fake.PendingWrite->hEvent, 0), WAIT_OBJECT_0);
    win->CloseDevice();
}

// The line error flags that the write's look at the output queue took reach the next error
// dispatch, with those the dispatch's own call reports.
TEST(WinSeam, ErrorFlagsTakenByTheQueueLookReachOnError) {
    Seam s(false);
    TComErrors seen = 0;
    int calls = 0;
    s.Port->OnError = [&](TBComPort&, TComErrors errors) {
        seen = errors;
        ++calls;
    };
    s.Port->SetBaudRate(TBaudRate::br115200);
    s.Os->OpenWin32(); // the queue counts and the error flags are its own
    s.Port->Open();
    s.Fake.NextErrors = CE_FRAME;
    EXPECT_EQ(s.Port->SendString("g0101;"), 6); // asks for the output queue: takes CE_FRAME
    EXPECT_EQ(s.Fake.NextErrors, 0U);
    s.Fake.NextErrors = CE_OVERRUN;
    s.Os->PushEvents(ComEvErr);
    ASSERT_TRUE(s.Os->WaitUntilIdle());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, ComErrorBit(TComError::ceFrame) | ComErrorBit(TComError::ceOverrun));
    // Handed over once: the next dispatch sees only its own flags.
    s.Fake.NextErrors = CE_BREAK;
    s.Os->PushEvents(ComEvErr);
    ASSERT_TRUE(s.Os->WaitUntilIdle());
    EXPECT_EQ(seen, ComErrorBit(TComError::ceBreak));
    s.Port->Close();
    s.Os->CloseWin32();
}

// Before Windows 10 1803 there is no high-resolution waitable timer: the layer asks for a
// 1 ms timer resolution while its device is open, so that a frame's line-time wait is about
// a millisecond, not a 15.6 ms tick, and gives it back when the device closes; with the timer
// it leaves the system-wide resolution alone.  The calls prove it: without the fallback
// there is no timeBeginPeriod(1) where the timer is missing, and a layer that always raised
// the resolution would call it where the timer exists.  How long the sends take proves
// nothing here (Wine's Sleep keeps about a millisecond either way): it is recorded only.
TEST(WinSeam, WithoutTheHighResolutionTimerTheResolutionIsRaisedWhileOpen) {
    for (const bool timerFails : {true, false}) {
        FakeDriver fake;
        fake.TimerFails = timerFails;
        Driver = &fake;
        {
            auto layer = std::make_unique<SeamOs>(false);
            SeamOs* os = layer.get();
            TBComPort port(std::move(layer));
            port.SetBaudRate(TBaudRate::br115200);
            os->OpenWin32();
            EXPECT_EQ(fake.PeriodCalls, timerFails ? std::vector<UINT>{1} : std::vector<UINT>{});
            port.Open();
            std::vector<std::uint64_t> took;
            for (int i = 0; i < 21; ++i) {
                const std::uint64_t start = MonotonicNs();
                EXPECT_EQ(port.SendString("g0101;"), 6);
                took.push_back(MonotonicNs() - start);
            }
            std::nth_element(took.begin(), took.begin() + 10, took.end());
            RecordProperty(timerFails ? "MedianSendUsWithoutTimer" : "MedianSendUsWithTimer",
                           static_cast<int>(took[10] / 1000));
            port.Close();
            os->CloseWin32();
        }
        Driver = nullptr;
        const std::vector<UINT> raised = {1, static_cast<UINT>(-1)};
        EXPECT_EQ(fake.PeriodCalls, timerFails ? raised : std::vector<UINT>{});
    }
}

// Two FTDI device keys name one port, as after an adapter was swapped for another: the
// facts are those of the adapter that is plugged in, whichever key is read last.
const char* PluggedIn = ""; // the instance the fake configuration manager knows as present

TDevicePresence FakePresence(const std::string& instanceId) {
    return instanceId == PluggedIn ? TDevicePresence::Present : TDevicePresence::Absent;
}

TEST(WinSeam, ThePortFactsAreThoseOfThePresentAdapter) {
    const std::array<std::pair<std::string, DWORD>, 2> adapters = {{
        {"FTDIBUS\\VID_0403+PID_6001+TVX0005A", 16},
        {"FTDIBUS\\VID_0403+PID_6001+TVX0006A", 2},
    }};
    for (const auto& [device, timer] : adapters) {
        ASSERT_TRUE(WriteDeviceParameters(device + "\\0000", "COM14", timer));
    }
    const struct {
        const char* PluggedIn;
        int LatencyTimerMs;
        const char* SerialNumber;
    } cases[] = {
        {"FTDIBUS\\VID_0403+PID_6001+TVX0005A\\0000", 16, "TVX0005"},
        {"FTDIBUS\\VID_0403+PID_6001+TVX0006A\\0000", 2, "TVX0006"},
        {"", -1, ""}, // neither is plugged in
    };
    for (const auto& c : cases) {
        PluggedIn = c.PluggedIn;
        const TSerialPortInfo info = DescribeWin32Port("COM14", FakePresence);
        EXPECT_EQ(info.LatencyTimerMs, c.LatencyTimerMs) << c.PluggedIn;
        EXPECT_EQ(info.SerialNumber, c.SerialNumber) << c.PluggedIn;
    }
    for (const auto& adapter : adapters) {
        const std::string device = "SYSTEM\\CurrentControlSet\\Enum\\" + adapter.first;
        EXPECT_EQ(::RegDeleteTreeA(HKEY_LOCAL_MACHINE, device.c_str()), ERROR_SUCCESS);
    }
}

} // namespace
