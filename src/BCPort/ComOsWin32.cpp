// The Win32 layer of the serial component: an overlapped COM device handle, the system's
// DCB and COMMTIMEOUTS, and one OVERLAPPED with its own event for every transfer and for the
// event thread's wait.  The time-out rules of reads are the system's own.
//
// Three departures from the plain call sequence, all harmless on Windows:
//  - the write time-outs given to the system are lengthened by the line allowance of
//    WriteBudgetNs (twice the characters' line time, plus 50 ms), so a slow rate never cuts a
//    frame, as on every other platform;
//  - a read under the "return at once" time-outs asks the driver for its input count first
//    and reads only what is there (Wine keeps such a read pending on an empty queue);
//  - a transfer that ends by time-out and that the system reports as ERROR_TIMEOUT (Wine
//    does, Windows reports success) counts as completed with the bytes moved by then.
//
// Rules for drivers that misbehave, which Wine cannot show (every call on the device goes
// through a TComWin32Api table, so tests can play such a driver):
//  - a call that takes no OVERLAPPED (SetupComm, SetCommState, SetCommTimeouts,
//    EscapeCommFunction, PurgeComm, ClearCommError, GetCommModemStatus, SetCommMask, and the
//    device's CloseHandle) runs on a helper thread; its caller waits DriverCallLimitMs at
//    most and then counts it as failed.  The helper finishes the call alone, with its own
//    copies of the arguments and results and a reference to the device, so the handle
//    stays open, and its value taken, until the call has returned.  While such a call has
//    not returned, every further one fails at once: the driver has stopped answering;
//  - an event wait that does not end within CancelGraceMs of its cancel (a pulled adapter may
//    ignore it) is given up, and its OVERLAPPED, event and mask word are kept for good: the
//    system still owns them and writes into them when the wait ends at last;
//  - ClearCommError clears the line error flags it reports, whoever calls it: the flags of
//    the layer's own calls (the queue counts) are kept and handed to the next ClearErrors;
//  - a transfer with a time budget (a write's, or a read's total time-outs) that has not
//    ended CancelGraceMs after its budget is cancelled, and given up as a failed transfer if
//    it does not end within CancelGraceMs of that: some drivers of pulled adapters ignore
//    their time-outs.  A cancel that the driver honours ends the transfer at its limit, with
//    the bytes moved by then, as the time-out would have.  Its OVERLAPPED, event and bytes
//    are the layer's own, never the caller's, and a given-up transfer keeps them for good.
//    A transfer with no budget is waited for without limit, as the system itself would.
//
// The device handle is shared by the layer, its event wait and the helpers of calls still
// running, and closed when the last of them lets it go: an event thread that the component
// let go can never use a handle value that a later open has been given.
#include "ComOsWin32.h"

#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "ComOs.h"
#include "ComTiming.h"

namespace {

constexpr DWORD AllOnes = std::numeric_limits<DWORD>::max();
constexpr DWORD WriteMarginMs = 50;
// How long an event wait may take to end after its cancel before it is given up.
constexpr DWORD CancelGraceMs = 1000;

DWORD SaturatedSum(std::uint64_t a, std::uint64_t b) {
    return static_cast<DWORD>(std::min<std::uint64_t>(a + b, AllOnes));
}

// Transfers and event waits given up while the system still owned their memory: their
// OVERLAPPED pointers, for ComWin32Abandoned.  The objects themselves are never freed.
std::mutex AbandonedLock;
std::vector<const OVERLAPPED*>* Abandoned = new std::vector<const OVERLAPPED*>;

void Abandon(const OVERLAPPED* overlapped) {
    std::lock_guard<std::mutex> lock(AbandonedLock);
    Abandoned->push_back(overlapped);
}

// The open device; its handle is closed when the last user lets it go.
class TDevice {
public:
    TDevice(BOOL(WINAPI* close)(HANDLE), HANDLE handle) : Close(close), Handle(handle) {}
    ~TDevice() { Close(Handle); }
    TDevice(const TDevice&) = delete;
    TDevice& operator=(const TDevice&) = delete;

    BOOL(WINAPI* const Close)(HANDLE);
    const HANDLE Handle;
};
using TDeviceRef = std::shared_ptr<TDevice>;

HANDLE HandleOf(const TDeviceRef& device) {
    return device ? device->Handle : INVALID_HANDLE_VALUE;
}

// Runs the calls that take no OVERLAPPED on helper threads, so that a driver that never
// answers one holds its caller DriverCallLimitMs at most.  A helper whose call returned in
// time is kept for the next call; one that did not is left to finish it alone and then ends.
class TDriverCalls {
public:
    TDriverCalls() = default;
    ~TDriverCalls() {
        std::lock_guard<std::mutex> lock(Lock);
        for (const std::shared_ptr<THelper>& helper : Idle) {
            std::lock_guard<std::mutex> helperLock(helper->Lock);
            helper->Quit = true;
            helper->Changed.notify_all();
        }
    }
    TDriverCalls(const TDriverCalls&) = delete;
    TDriverCalls& operator=(const TDriverCalls&) = delete;

    // The call's result; false as well when it did not return in time, when an earlier call
    // has not returned yet (unless `evenWhenStalled`) or when no helper could be started.
    // Whatever the call touches must be its own: captured by value or co-owned.
    bool Run(std::function<BOOL()> call, bool evenWhenStalled = false) {
        std::shared_ptr<std::atomic<int>> stalled;
        std::shared_ptr<THelper> helper;
        {
            std::lock_guard<std::mutex> lock(Lock);
            stalled = Stalled;
            if (*stalled > 0 && !evenWhenStalled) {
                return false;
            }
            if (!Idle.empty()) {
                helper = std::move(Idle.back());
                Idle.pop_back();
            }
        }
        if (!helper) {
            helper = std::make_shared<THelper>();
            try {
                std::thread([helper] { Serve(*helper); }).detach();
            } catch (const std::system_error&) {
                return false;
            }
        }
        std::unique_lock<std::mutex> lock(helper->Lock);
        helper->Call = std::move(call);
        helper->Stalled = stalled;
        helper->Busy = true;
        helper->Changed.notify_all();
        if (!helper->Changed.wait_for(lock, std::chrono::milliseconds(DriverCallLimitMs),
                                      [&] { return !helper->Busy; })) {
            helper->GivenUp = true;
            ++*stalled;
            return false;
        }
        const BOOL result = helper->Result;
        lock.unlock();
        std::lock_guard<std::mutex> poolLock(Lock);
        Idle.push_back(std::move(helper));
        return result != FALSE;
    }

    // A new device: calls on the one before that have not returned no longer count.
    void Restart() {
        std::lock_guard<std::mutex> lock(Lock);
        Stalled = std::make_shared<std::atomic<int>>(0);
    }

private:
    struct THelper {
        std::mutex Lock;
        std::condition_variable Changed;
        std::function<BOOL()> Call;
        BOOL Result = FALSE;
        bool Busy = false;
        bool Quit = false;
        bool GivenUp = false;
        std::shared_ptr<std::atomic<int>> Stalled;
    };

    static void Serve(THelper& helper) {
        std::unique_lock<std::mutex> lock(helper.Lock);
        for (;;) {
            helper.Changed.wait(lock, [&] { return helper.Busy || helper.Quit; });
            if (!helper.Busy) {
                return;
            }
            std::function<BOOL()> call = std::move(helper.Call);
            helper.Call = nullptr;
            lock.unlock();
            const BOOL result = call();
            call = nullptr; // what it held (the device among it) is let go here
            lock.lock();
            helper.Result = result;
            helper.Busy = false;
            helper.Changed.notify_all();
            if (helper.GivenUp) {
                --*helper.Stalled;
                return;
            }
        }
    }

    std::mutex Lock;
    std::vector<std::shared_ptr<THelper>> Idle;
    std::shared_ptr<std::atomic<int>> Stalled = std::make_shared<std::atomic<int>>(0);
};

// One transfer: its OVERLAPPED with an event (manual-reset, created signalled, so that a
// wait on a request on which nothing was started returns at once) and its bytes.
struct TTransferRequest {
    explicit TTransferRequest(std::size_t size) : Bytes(size) {
        Overlapped.hEvent = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
    }
    ~TTransferRequest() {
        if (Overlapped.hEvent != nullptr) {
            ::CloseHandle(Overlapped.hEvent);
        }
    }
    TTransferRequest(const TTransferRequest&) = delete;
    TTransferRequest& operator=(const TTransferRequest&) = delete;

    OVERLAPPED Overlapped{};
    std::vector<char> Bytes;
};

using TTransferHolder = std::unique_ptr<TTransferRequest>;

// Waits for the started transfer, at most `limitMs` (INFINITE: without limit), then takes its
// result without waiting.  One that has not ended by then is cancelled: when it ends as
// cancelled it has reached its limit, with the bytes moved by then (InternalHigh); one that
// does not end within CancelGraceMs of its cancel is given up: a failure, its request kept
// for good.
TComTransfer FinishTransfer(const TComWin32Api& api, HANDLE handle, TTransferHolder& request,
                            DWORD limitMs) {
    TComTransfer result;
    OVERLAPPED& overlapped = request->Overlapped;
    bool cancelled = false;
    if (api.WaitForSingleObject(overlapped.hEvent, limitMs) != WAIT_OBJECT_0) {
        api.CancelIoEx(handle, &overlapped);
        cancelled = true;
        if (api.WaitForSingleObject(overlapped.hEvent, CancelGraceMs) != WAIT_OBJECT_0) {
            Abandon(&overlapped);
            (void)request.release(); // the system may still write into it
            return result;
        }
    }
    DWORD count = 0;
    if (api.GetOverlappedResult(handle, &overlapped, &count, FALSE)) {
        result.Ok = true;
        result.Count = count;
        return result;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_TIMEOUT || (cancelled && error == ERROR_OPERATION_ABORTED)) {
        result.Ok = true;
        result.Count = static_cast<std::size_t>(overlapped.InternalHigh);
    }
    return result;
}

// A budget in milliseconds plus the cancel grace, INFINITE where there is none.
DWORD TransferLimitMs(std::optional<std::uint64_t> budgetMs) {
    if (!budgetMs) {
        return INFINITE;
    }
    return static_cast<DWORD>(std::min<std::uint64_t>(*budgetMs + CancelGraceMs, AllOnes - 1));
}

bool Started(BOOL accepted) {
    return accepted || ::GetLastError() == ERROR_IO_PENDING;
}

// What the system writes into while an event wait is pending.
struct TWaitRequest {
    OVERLAPPED Overlapped{};
    DWORD Mask = 0;
};

// The event thread's wait: WaitCommEvent on its own OVERLAPPED, then a wait for the stop
// event or the wait's event.  It holds the device, so the handle it waits on stays open as
// long as it exists.
class TComEventWaitWin32 final : public TComEventWait {
public:
    TComEventWaitWin32(const TComWin32Api& api, TDeviceRef device)
        : Api(api), Device(std::move(device)), Handle(HandleOf(Device)), Request(new TWaitRequest) {
        StopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        Request->Overlapped.hEvent = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
    }
    // Called after the event thread has ended and has cleared the event mask, which ends a
    // pending wait on a driver that behaves.
    ~TComEventWaitWin32() override {
        if (Pending) {
            Api.CancelIoEx(Handle, &Request->Overlapped);
            if (Api.WaitForSingleObject(Request->Overlapped.hEvent, CancelGraceMs) !=
                WAIT_OBJECT_0) {
                Abandon(&Request->Overlapped); // the system may still write into it: keep
                                               // it, event and all
                Request = nullptr;
            } else {
                DWORD ignored = 0;
                Api.GetOverlappedResult(Handle, &Request->Overlapped, &ignored, FALSE);
            }
        }
        if (Request != nullptr) {
            if (Request->Overlapped.hEvent != nullptr) {
                ::CloseHandle(Request->Overlapped.hEvent);
            }
            delete Request;
        }
        if (StopEvent != nullptr) {
            ::CloseHandle(StopEvent);
        }
    }
    TComEventWaitWin32(const TComEventWaitWin32&) = delete;
    TComEventWaitWin32& operator=(const TComEventWaitWin32&) = delete;

    bool Valid() const { return StopEvent != nullptr && Request->Overlapped.hEvent != nullptr; }

    TComWaitResult Wait(std::uint32_t& occurred) override {
        occurred = 0;
        if (!Pending) {
            // A stopped thread starts no new wait.
            if (::WaitForSingleObject(StopEvent, 0) == WAIT_OBJECT_0) {
                return TComWaitResult::Stopped;
            }
            Request->Mask = 0;
            if (!Started(Api.WaitCommEvent(Handle, &Request->Mask, &Request->Overlapped))) {
                return ::WaitForSingleObject(StopEvent, 0) == WAIT_OBJECT_0
                           ? TComWaitResult::Stopped
                           : TComWaitResult::Failed;
            }
            Pending = true;
        }
        const HANDLE objects[2] = {StopEvent, Request->Overlapped.hEvent};
        const DWORD which = ::WaitForMultipleObjects(2, objects, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            return TComWaitResult::Stopped; // the wait stays pending; the mask ends it
        }
        if (which != WAIT_OBJECT_0 + 1) {
            return TComWaitResult::Failed;
        }
        Pending = false;
        DWORD ignored = 0;
        if (!Api.GetOverlappedResult(Handle, &Request->Overlapped, &ignored, FALSE)) {
            return TComWaitResult::Failed;
        }
        occurred = Request->Mask;
        return TComWaitResult::Events;
    }

    void Stop() override { ::SetEvent(StopEvent); }

    bool Pause(std::uint32_t ms) override {
        return ::WaitForSingleObject(StopEvent, ms) == WAIT_OBJECT_0;
    }

private:
    const TComWin32Api Api; // a copy: the wait may outlive the layer
    const TDeviceRef Device;
    const HANDLE Handle;
    HANDLE StopEvent = nullptr;
    TWaitRequest* Request; // owned, unless given up
    bool Pending = false;
};

class TComOsWin32 final : public TComOs {
public:
    explicit TComOsWin32(const TComWin32Api& api) : Api(api) {
        // Sleep() keeps to the system tick (up to 15.6 ms); the wait for a frame's line time
        // needs about a millisecond.  Windows 10 1803 and later have such timers; before, the
        // system timer resolution is raised to 1 ms while the port is open.
        constexpr DWORD HighResolution = 0x00000002; // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
        Timer = Api.CreateWaitableTimerExW(nullptr, nullptr, HighResolution, TIMER_ALL_ACCESS);
    }
    ~TComOsWin32() override {
        CloseDevice();
        if (Timer != nullptr) {
            ::CloseHandle(Timer);
        }
    }
    TComOsWin32(const TComOsWin32&) = delete;
    TComOsWin32& operator=(const TComOsWin32&) = delete;

    // Called by the thread that sends, never by the event thread.
    void SleepNs(std::uint64_t ns) override {
        LARGE_INTEGER due{};
        due.QuadPart = -static_cast<LONGLONG>((ns + 99) / 100); // relative, in 100 ns
        if (Timer == nullptr || ns == 0 ||
            !::SetWaitableTimer(Timer, &due, 0, nullptr, nullptr, FALSE) ||
            ::WaitForSingleObject(Timer, INFINITE) != WAIT_OBJECT_0) {
            TComOs::SleepNs(ns);
        }
    }

    TComOpenResult OpenDevice(const std::string& port) override {
        CloseDevice();
        if (port.empty()) {
            return TComOpenResult::NotFound; // no adapter chosen: "\\.\" alone names nothing
        }
        const std::string path = "\\\\.\\" + port;
        const HANDLE handle =
            Api.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            Calls.Restart();
            Device = std::make_shared<TDevice>(Api.CloseHandle, handle);
            PeriodRaised = Timer == nullptr && Api.TimeBeginPeriod(1) == TIMERR_NOERROR;
            return TComOpenResult::Ok;
        }
        switch (::GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
            return TComOpenResult::NotFound;
        case ERROR_ACCESS_DENIED:
            return TComOpenResult::Denied;
        default:
            return TComOpenResult::Other;
        }
    }

    // The layer lets its device go; the handle closes now unless a call or an event wait
    // still holds it, and then when the last of them ends.
    void CloseDevice() override {
        if (Device) {
            Calls.Run(
                [device = std::move(Device)]() mutable {
                    device.reset();
                    return TRUE;
                },
                true);
            Device = nullptr;
        }
        if (PeriodRaised) {
            Api.TimeEndPeriod(1);
            PeriodRaised = false;
        }
        TimeoutsApplied = false;
        PendingErrors = 0;
    }

    bool SetupBuffers(std::int32_t inSize, std::int32_t outSize) override {
        return OnDevice([setup = Api.SetupComm, inSize, outSize](HANDLE handle) {
            return setup(handle, static_cast<DWORD>(inSize), static_cast<DWORD>(outSize));
        });
    }

    bool ApplyLineSettings(const TComLineSettings& line) override {
        DCB dcb{};
        dcb.DCBlength = 28;
        dcb.BaudRate = line.BaudRate;
        dcb.fBinary = (line.Flags & ComFlagBinary) != 0;
        dcb.fParity = (line.Flags & ComFlagParity) != 0;
        dcb.fOutxCtsFlow = (line.Flags & ComFlagOutxCtsFlow) != 0;
        dcb.fOutxDsrFlow = (line.Flags & ComFlagOutxDsrFlow) != 0;
        dcb.fDtrControl = (line.Flags >> ComFlagDtrControlShift) & 3U;
        dcb.fOutX = (line.Flags & ComFlagOutX) != 0;
        dcb.fInX = (line.Flags & ComFlagInX) != 0;
        dcb.fRtsControl = (line.Flags >> ComFlagRtsControlShift) & 3U;
        dcb.ByteSize = line.ByteSize;
        dcb.Parity = line.Parity;
        dcb.StopBits = line.StopBits;
        dcb.XonChar = static_cast<char>(line.XonChar);
        dcb.XoffChar = static_cast<char>(line.XoffChar);
        if (!OnDevice([set = Api.SetCommState, dcb](HANDLE handle) mutable {
                return set(handle, &dcb);
            })) {
            return false;
        }
        HalfBits = CharHalfBits(line.ByteSize, line.Parity, line.StopBits);
        Rate = line.BaudRate;
        // The write allowance follows the line: give the system the new one.
        return !TimeoutsApplied || SetSystemTimeouts();
    }

    bool ApplyTimeouts(const TComTimeoutValues& timeouts) override {
        const TComTimeoutValues before = Timeouts;
        Timeouts = timeouts;
        if (!SetSystemTimeouts()) {
            Timeouts = before;
            return false;
        }
        TimeoutsApplied = true;
        return true;
    }

    bool Escape(TComEscape code) override {
        return OnDevice([escape = Api.EscapeCommFunction, code](HANDLE handle) {
            return escape(handle, static_cast<DWORD>(code));
        });
    }

    bool Purge() override { return PurgeComm(PURGE_TXABORT | PURGE_RXABORT); }

    bool DiscardQueues() override { return PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR); }

    TComTransfer Write(const char* data, std::size_t size,
                       std::optional<std::uint64_t> budgetNs) override {
        if (size > AllOnes) {
            return {};
        }
        const HANDLE handle = HandleOf(Device);
        auto request = std::make_unique<TTransferRequest>(size);
        std::copy(data, data + size, request->Bytes.begin());
        if (request->Overlapped.hEvent == nullptr ||
            !Started(Api.WriteFile(handle, request->Bytes.data(), static_cast<DWORD>(size), nullptr,
                                   &request->Overlapped))) {
            return {};
        }
        std::optional<std::uint64_t> budgetMs;
        if (budgetNs) {
            budgetMs = (*budgetNs + 999999) / 1000000;
        }
        return FinishTransfer(Api, handle, request, TransferLimitMs(budgetMs));
    }

    TComTransfer Read(char* data, std::size_t size) override {
        if (ReadReturnsAtOnce(Timeouts)) {
            std::uint32_t queued = 0;
            if (!InQueueCount(queued)) {
                return {};
            }
            size = std::min<std::size_t>(size, queued);
            if (size == 0) {
                return {true, 0};
            }
        }
        if (size > AllOnes) {
            return {};
        }
        const HANDLE handle = HandleOf(Device);
        auto request = std::make_unique<TTransferRequest>(size);
        if (request->Overlapped.hEvent == nullptr ||
            !Started(Api.ReadFile(handle, request->Bytes.data(), static_cast<DWORD>(size), nullptr,
                                  &request->Overlapped))) {
            return {};
        }
        const TComTransfer done =
            FinishTransfer(Api, handle, request, TransferLimitMs(ReadBudgetMs(size)));
        if (done.Ok) {
            std::copy_n(request->Bytes.begin(), std::min(done.Count, size), data);
        }
        return done;
    }

    // The longest a read of `size` bytes may take by its total time-outs; none when they
    // set no total (the read then waits for its bytes, or ends by the interval alone).
    std::optional<std::uint64_t> ReadBudgetMs(std::size_t size) const {
        const DWORD multiplier = Timeouts.ReadTotalMultiplier;
        const DWORD constant = Timeouts.ReadTotalConstant;
        if (multiplier == AllOnes) {
            // With an interval of all ones and a constant below that: the first byte, or the
            // constant; otherwise a total beyond any wait.
            if (Timeouts.ReadInterval == AllOnes && constant != 0 && constant != AllOnes) {
                return constant;
            }
            return std::nullopt;
        }
        if (multiplier == 0 && constant == 0) {
            return std::nullopt;
        }
        return std::uint64_t{multiplier} * size + constant;
    }

    bool InQueueCount(std::uint32_t& count) override {
        COMSTAT status{};
        if (!ClearCommError(nullptr, &status)) {
            return false;
        }
        count = status.cbInQue;
        return true;
    }

    bool OutQueueCount(std::uint32_t& count) override {
        COMSTAT status{};
        if (!ClearCommError(nullptr, &status)) {
            return false;
        }
        count = status.cbOutQue;
        return true;
    }

    bool ClearErrors(std::uint32_t& errors) override {
        DWORD flags = 0;
        if (!ClearCommError(&flags, nullptr)) {
            return false;
        }
        errors = flags | PendingErrors.exchange(0);
        return true;
    }

    bool ModemStatus(std::uint32_t& status) override {
        auto lines = std::make_shared<DWORD>(0);
        if (!OnDevice([get = Api.GetCommModemStatus, lines](HANDLE handle) {
                return get(handle, lines.get());
            })) {
            return false;
        }
        status = *lines;
        return true;
    }

    bool SetEventMask(std::uint32_t mask) override {
        return OnDevice([set = Api.SetCommMask, mask](HANDLE handle) { return set(handle, mask); });
    }

    std::unique_ptr<TComEventWait> CreateEventWait() override {
        auto wait = std::make_unique<TComEventWaitWin32>(Api, Device);
        if (!wait->Valid()) {
            return nullptr;
        }
        return wait;
    }

    HANDLE DeviceHandle() const { return HandleOf(Device); }

private:
    // `call` with the device's handle, on a helper, bounded (TDriverCalls); false on a
    // closed layer.  The helper holds the device until the call has returned.
    template <typename Call> bool OnDevice(Call call) {
        if (!Device) {
            return false;
        }
        return Calls.Run([device = Device, call]() mutable { return call(device->Handle); });
    }

    bool PurgeComm(DWORD flags) {
        return OnDevice(
            [purge = Api.PurgeComm, flags](HANDLE handle) { return purge(handle, flags); });
    }

    // ClearCommError clears the flags it reports: those of a call that is not ClearErrors's
    // own wait in PendingErrors for the next ClearErrors (the line error dispatch).
    bool ClearCommError(DWORD* errors, COMSTAT* status) {
        struct TAnswer {
            DWORD Flags = 0;
            COMSTAT Status{};
        };
        auto answer = std::make_shared<TAnswer>();
        if (!OnDevice([clear = Api.ClearCommError, answer](HANDLE handle) {
                return clear(handle, &answer->Flags, &answer->Status);
            })) {
            return false;
        }
        if (status != nullptr) {
            *status = answer->Status;
        }
        if (errors != nullptr) {
            *errors = answer->Flags;
        } else {
            PendingErrors.fetch_or(answer->Flags);
        }
        return true;
    }

    bool SetSystemTimeouts() {
        COMMTIMEOUTS record{};
        record.ReadIntervalTimeout = Timeouts.ReadInterval;
        record.ReadTotalTimeoutMultiplier = Timeouts.ReadTotalMultiplier;
        record.ReadTotalTimeoutConstant = Timeouts.ReadTotalConstant;
        record.WriteTotalTimeoutMultiplier = Timeouts.WriteTotalMultiplier;
        record.WriteTotalTimeoutConstant = Timeouts.WriteTotalConstant;
        if (Timeouts.WriteTotalMultiplier != 0 || Timeouts.WriteTotalConstant != 0) {
            record.WriteTotalTimeoutMultiplier =
                SaturatedSum(Timeouts.WriteTotalMultiplier, WriteAllowancePerByteMs());
            record.WriteTotalTimeoutConstant =
                SaturatedSum(Timeouts.WriteTotalConstant, WriteMarginMs);
        }
        return OnDevice([set = Api.SetCommTimeouts, record](HANDLE handle) mutable {
            return set(handle, &record);
        });
    }

    // Twice a character's line time, in whole milliseconds rounded up.
    std::uint64_t WriteAllowancePerByteMs() const {
        return (2 * LineTimeNs(1, Rate, HalfBits) + 999999) / 1000000;
    }

    TComWin32Api Api;
    TDriverCalls Calls;
    TDeviceRef Device;         // while open
    HANDLE Timer = nullptr;    // high-resolution waitable timer, where the system has one
    bool PeriodRaised = false; // without one: timeBeginPeriod(1) while the device is open
    // Line error flags taken by the queue counts; both threads make those calls.
    std::atomic<std::uint32_t> PendingErrors{0};
    TComTimeoutValues Timeouts;
    bool TimeoutsApplied = false;
    std::uint32_t Rate = 9600;
    std::uint32_t HalfBits = 20;
};

} // namespace

const TComWin32Api& SystemComWin32Api() {
    static const TComWin32Api api = {
        .CreateFileA = ::CreateFileA,
        .CloseHandle = ::CloseHandle,
        .SetupComm = ::SetupComm,
        .SetCommState = ::SetCommState,
        .SetCommTimeouts = ::SetCommTimeouts,
        .EscapeCommFunction = ::EscapeCommFunction,
        .PurgeComm = ::PurgeComm,
        .ClearCommError = ::ClearCommError,
        .GetCommModemStatus = ::GetCommModemStatus,
        .SetCommMask = ::SetCommMask,
        .WaitCommEvent = ::WaitCommEvent,
        .WriteFile = ::WriteFile,
        .ReadFile = ::ReadFile,
        .CancelIoEx = ::CancelIoEx,
        .GetOverlappedResult = ::GetOverlappedResult,
        .WaitForSingleObject = ::WaitForSingleObject,
        .CreateWaitableTimerExW = ::CreateWaitableTimerExW,
        .TimeBeginPeriod = ::timeBeginPeriod,
        .TimeEndPeriod = ::timeEndPeriod,
    };
    return api;
}

std::unique_ptr<TComOs> CreateWin32ComOs(const TComWin32Api& api) {
    return std::make_unique<TComOsWin32>(api);
}

std::unique_ptr<TComOs> CreatePlatformComOs() {
    return CreateWin32ComOs(SystemComWin32Api());
}

void* ComOsWin32Handle(TComOs& os) {
    auto* layer = dynamic_cast<TComOsWin32*>(&os);
    return layer != nullptr ? layer->DeviceHandle() : nullptr;
}

bool ComWin32Abandoned(const void* overlapped) {
    std::lock_guard<std::mutex> lock(AbandonedLock);
    return std::find(Abandoned->begin(), Abandoned->end(), overlapped) != Abandoned->end();
}
