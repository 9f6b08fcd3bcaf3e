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
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <limits>

#include "ComOs.h"
#include "ComOsWin32.h"
#include "ComTiming.h"

namespace {

constexpr DWORD AllOnes = std::numeric_limits<DWORD>::max();
constexpr DWORD WriteMarginMs = 50;

DWORD SaturatedSum(std::uint64_t a, std::uint64_t b) {
    return static_cast<DWORD>(std::min<std::uint64_t>(a + b, AllOnes));
}

// An event for one OVERLAPPED: manual-reset, created signalled, so that a wait on a request
// on which nothing was started returns at once.
class TOverlappedRequest {
public:
    TOverlappedRequest() { Overlapped.hEvent = ::CreateEventA(nullptr, TRUE, TRUE, nullptr); }
    ~TOverlappedRequest() {
        if (Overlapped.hEvent != nullptr) {
            ::CloseHandle(Overlapped.hEvent);
        }
    }
    TOverlappedRequest(const TOverlappedRequest&) = delete;
    TOverlappedRequest& operator=(const TOverlappedRequest&) = delete;

    bool Valid() const { return Overlapped.hEvent != nullptr; }

    // Waits without a limit for the started transfer, then takes its result without waiting.
    TComTransfer Finish(HANDLE handle) {
        TComTransfer result;
        if (::WaitForSingleObject(Overlapped.hEvent, INFINITE) != WAIT_OBJECT_0) {
            return result;
        }
        DWORD count = 0;
        if (::GetOverlappedResult(handle, &Overlapped, &count, FALSE)) {
            result.Ok = true;
            result.Count = count;
        } else if (::GetLastError() == ERROR_TIMEOUT) {
            result.Ok = true;
            result.Count = static_cast<std::size_t>(Overlapped.InternalHigh);
        }
        return result;
    }

    OVERLAPPED Overlapped{};
};

bool Started(BOOL accepted) {
    return accepted || ::GetLastError() == ERROR_IO_PENDING;
}

// The event thread's wait: WaitCommEvent on its own OVERLAPPED, then a wait for the stop
// event or the wait's event.
class TComEventWaitWin32 final : public TComEventWait {
public:
    explicit TComEventWaitWin32(HANDLE handle) : Handle(handle) {
        StopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~TComEventWaitWin32() override {
        if (Pending) {
            // The system still owns the OVERLAPPED: end the wait before its event goes.
            ::CancelIoEx(Handle, &Request.Overlapped);
            DWORD ignored = 0;
            ::GetOverlappedResult(Handle, &Request.Overlapped, &ignored, TRUE);
        }
        if (StopEvent != nullptr) {
            ::CloseHandle(StopEvent);
        }
    }
    TComEventWaitWin32(const TComEventWaitWin32&) = delete;
    TComEventWaitWin32& operator=(const TComEventWaitWin32&) = delete;

    bool Valid() const { return StopEvent != nullptr && Request.Valid(); }

    TComWaitResult Wait(std::uint32_t& occurred) override {
        occurred = 0;
        if (!Pending) {
            Mask = 0;
            if (!Started(::WaitCommEvent(Handle, &Mask, &Request.Overlapped))) {
                return ::WaitForSingleObject(StopEvent, 0) == WAIT_OBJECT_0
                           ? TComWaitResult::Stopped
                           : TComWaitResult::Failed;
            }
            Pending = true;
        }
        const HANDLE objects[2] = {StopEvent, Request.Overlapped.hEvent};
        const DWORD which = ::WaitForMultipleObjects(2, objects, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            return TComWaitResult::Stopped; // the wait stays pending; the mask ends it
        }
        if (which != WAIT_OBJECT_0 + 1) {
            return TComWaitResult::Failed;
        }
        Pending = false;
        DWORD ignored = 0;
        if (!::GetOverlappedResult(Handle, &Request.Overlapped, &ignored, FALSE)) {
            return TComWaitResult::Failed;
        }
        occurred = Mask;
        return TComWaitResult::Events;
    }

    void Stop() override { ::SetEvent(StopEvent); }

    bool Pause(std::uint32_t ms) override {
        return ::WaitForSingleObject(StopEvent, ms) == WAIT_OBJECT_0;
    }

private:
    HANDLE Handle;
    HANDLE StopEvent = nullptr;
    TOverlappedRequest Request;
    DWORD Mask = 0;
    bool Pending = false;
};

class TComOsWin32 final : public TComOs {
public:
    TComOsWin32() {
        // Sleep() keeps to the system tick (up to 15.6 ms); the wait for a frame's line time
        // needs about a millisecond.  Windows 10 1803 and later have such timers.
        constexpr DWORD HighResolution = 0x00000002; // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
        Timer = ::CreateWaitableTimerExW(nullptr, nullptr, HighResolution, TIMER_ALL_ACCESS);
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
        TimeoutsApplied = false;
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

    TComTransfer Write(const char* data, std::size_t size, std::optional<std::uint64_t>) override {
        TOverlappedRequest request;
        if (!request.Valid() || size > AllOnes ||
            !Started(::WriteFile(Handle, data, static_cast<DWORD>(size), nullptr,
                                 &request.Overlapped))) {
            return {};
        }
        return request.Finish(Handle);
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
        TOverlappedRequest request;
        if (!request.Valid() || size > AllOnes ||
            !Started(
                ::ReadFile(Handle, data, static_cast<DWORD>(size), nullptr, &request.Overlapped))) {
            return {};
        }
        return request.Finish(Handle);
    }

    bool InQueueCount(std::uint32_t& count) override {
        COMSTAT status{};
        DWORD errors = 0;
        if (!::ClearCommError(Handle, &errors, &status)) {
            return false;
        }
        count = status.cbInQue;
        return true;
    }

    bool OutQueueCount(std::uint32_t& count) override {
        COMSTAT status{};
        DWORD errors = 0;
        if (!::ClearCommError(Handle, &errors, &status)) {
            return false;
        }
        count = status.cbOutQue;
        return true;
    }

    bool ClearErrors(std::uint32_t& errors) override {
        DWORD flags = 0;
        if (!::ClearCommError(Handle, &flags, nullptr)) {
            return false;
        }
        errors = flags;
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

    bool SetEventMask(std::uint32_t mask) override { return ::SetCommMask(Handle, mask) != 0; }

    std::unique_ptr<TComEventWait> CreateEventWait() override {
        auto wait = std::make_unique<TComEventWaitWin32>(Handle);
        if (!wait->Valid()) {
            return nullptr;
        }
        return wait;
    }

    HANDLE DeviceHandle() const { return Handle; }

private:
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

    HANDLE Handle = INVALID_HANDLE_VALUE;
    HANDLE Timer = nullptr; // high-resolution waitable timer, where the system has one
    TComTimeoutValues Timeouts;
    bool TimeoutsApplied = false;
    std::uint32_t Rate = 9600;
    std::uint32_t HalfBits = 20;
};

} // namespace

std::unique_ptr<TComOs> CreatePlatformComOs() {
    return std::make_unique<TComOsWin32>();
}

void* ComOsWin32Handle(TComOs& os) {
    auto* layer = dynamic_cast<TComOsWin32*>(&os);
    return layer != nullptr ? layer->DeviceHandle() : nullptr;
}
