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
// Two rules for drivers that misbehave, which Wine cannot show (the calls involved go
// through a TComWin32Api table, so tests can play such a driver):
//  - an event wait that does not end within CancelGraceMs of its cancel (a pulled adapter may
//    ignore it) is given up, and its OVERLAPPED, event and mask word are kept for good: the
//    system still owns them and writes into them when the wait ends at last;
//  - ClearCommError clears the line error flags it reports, whoever calls it: the flags of
//    the layer's own calls (the queue counts) are kept and handed to the next ClearErrors;
//  - a transfer with a time budget (a write's, or a read's total time-outs) that has not
//    ended CancelGraceMs after its budget is cancelled, and given up as a failed transfer if
//    it does not end within CancelGraceMs of that: some drivers of pulled adapters ignore
//    their time-outs.  Its OVERLAPPED, event and bytes are the layer's own, never the
//    caller's, and a given-up transfer keeps them for good.  A transfer with no budget is
//    waited for without limit, as the system itself would.
#include "ComOsWin32.h"

#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
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
// result without waiting.  One that has not ended by then is cancelled; one that does not end
// within CancelGraceMs of its cancel is given up: a failure, its request kept for good.
TComTransfer FinishTransfer(const TComWin32Api& api, HANDLE handle, TTransferHolder& request,
                            DWORD limitMs) {
    TComTransfer result;
    OVERLAPPED& overlapped = request->Overlapped;
    if (api.WaitForSingleObject(overlapped.hEvent, limitMs) != WAIT_OBJECT_0) {
        api.CancelIoEx(handle, &overlapped);
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
    } else if (::GetLastError() == ERROR_TIMEOUT) {
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
// event or the wait's event.
class TComEventWaitWin32 final : public TComEventWait {
public:
    TComEventWaitWin32(const TComWin32Api& api, HANDLE handle)
        : Api(api), Handle(handle), Request(new TWaitRequest) {
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
    HANDLE Handle;
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
        Handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (Handle != INVALID_HANDLE_VALUE) {
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

    void CloseDevice() override {
        if (Handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(Handle);
            Handle = INVALID_HANDLE_VALUE;
        }
        if (PeriodRaised) {
            Api.TimeEndPeriod(1);
            PeriodRaised = false;
        }
        TimeoutsApplied = false;
        PendingErrors = 0;
    }

    bool SetupBuffers(std::int32_t inSize, std::int32_t outSize) override {
        return ::SetupComm(Handle, static_cast<DWORD>(inSize), static_cast<DWORD>(outSize)) != 0;
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
        if (!::SetCommState(Handle, &dcb)) {
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
        return ::EscapeCommFunction(Handle, static_cast<DWORD>(code)) != 0;
    }

    bool Purge() override { return ::PurgeComm(Handle, PURGE_TXABORT | PURGE_RXABORT) != 0; }

    bool DiscardQueues() override {
        return ::PurgeComm(Handle, PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
    }

    TComTransfer Write(const char* data, std::size_t size,
                       std::optional<std::uint64_t> budgetNs) override {
        if (size > AllOnes) {
            return {};
        }
        auto request = std::make_unique<TTransferRequest>(size);
        std::copy(data, data + size, request->Bytes.begin());
        if (request->Overlapped.hEvent == nullptr ||
            !Started(Api.WriteFile(Handle, request->Bytes.data(), static_cast<DWORD>(size), nullptr,
                                   &request->Overlapped))) {
            return {};
        }
        std::optional<std::uint64_t> budgetMs;
        if (budgetNs) {
            budgetMs = (*budgetNs + 999999) / 1000000;
        }
        return FinishTransfer(Api, Handle, request, TransferLimitMs(budgetMs));
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
        auto request = std::make_unique<TTransferRequest>(size);
        if (request->Overlapped.hEvent == nullptr ||
            !Started(Api.ReadFile(Handle, request->Bytes.data(), static_cast<DWORD>(size), nullptr,
                                  &request->Overlapped))) {
            return {};
        }
        const TComTransfer done =
            FinishTransfer(Api, Handle, request, TransferLimitMs(ReadBudgetMs(size)));
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
        DWORD lines = 0;
        if (!::GetCommModemStatus(Handle, &lines)) {
            return false;
        }
        status = lines;
        return true;
    }

    bool SetEventMask(std::uint32_t mask) override { return Api.SetCommMask(Handle, mask) != 0; }

    std::unique_ptr<TComEventWait> CreateEventWait() override {
        auto wait = std::make_unique<TComEventWaitWin32>(Api, Handle);
        if (!wait->Valid()) {
            return nullptr;
        }
        return wait;
    }

    HANDLE DeviceHandle() const { return Handle; }

private:
    // ClearCommError clears the flags it reports: those of a call that is not ClearErrors's
    // own wait in PendingErrors for the next ClearErrors (the line error dispatch).
    bool ClearCommError(DWORD* errors, COMSTAT* status) {
        DWORD flags = 0;
        if (!Api.ClearCommError(Handle, &flags, status)) {
            return false;
        }
        if (errors != nullptr) {
            *errors = flags;
        } else {
            PendingErrors.fetch_or(flags);
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
        return ::SetCommTimeouts(Handle, &record) != 0;
    }

    // Twice a character's line time, in whole milliseconds rounded up.
    std::uint64_t WriteAllowancePerByteMs() const {
        return (2 * LineTimeNs(1, Rate, HalfBits) + 999999) / 1000000;
    }

    TComWin32Api Api;
    HANDLE Handle = INVALID_HANDLE_VALUE;
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
        .WaitCommEvent = ::WaitCommEvent,
        .SetCommMask = ::SetCommMask,
        .CancelIoEx = ::CancelIoEx,
        .GetOverlappedResult = ::GetOverlappedResult,
        .WaitForSingleObject = ::WaitForSingleObject,
        .ClearCommError = ::ClearCommError,
        .CreateWaitableTimerExW = ::CreateWaitableTimerExW,
        .TimeBeginPeriod = ::timeBeginPeriod,
        .TimeEndPeriod = ::timeEndPeriod,
        .WriteFile = ::WriteFile,
        .ReadFile = ::ReadFile,
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
