// A made-up serial device behind the Windows layer's table of calls, answering as the Win32
// documentation says a driver does: an overlapped call that cannot finish at once returns
// FALSE with ERROR_IO_PENDING and sets its event when it ends; SetCommMask ends a pending
// event wait with an empty mask; PurgeComm with the abort flags ends pending transfers as
// cancelled; CancelIoEx fails with ERROR_NOT_FOUND when nothing of that OVERLAPPED is
// pending; GetOverlappedResult reports ERROR_IO_INCOMPLETE for a pending transfer and the
// error of a failed one, always with the count moved (InternalHigh).  A test chooses how its
// transfers end and which calls never return (until it releases them, or 5 s), and the device
// counts every call made on a handle that is not open.  Handle values are reused, lowest
// first, as the system reuses them.  One device at a time: the table holds plain functions.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ComOsWin32.h"

// How the driver ends a transfer.
enum class TFakeEnd {
    AtOnce,            // the call itself completes it and returns TRUE
    WhenWaited,        // pending; complete when the layer first waits for it
    TimeoutWhenWaited, // pending; ends by its time-out (STATUS_TIMEOUT) with Moved bytes
    FailsWhenWaited,   // pending; fails (device gone) with Moved bytes
    OnCancel,          // pending, ignores its time-outs; a cancel ends it with Moved bytes
    CancelFails,       // pending, ignores its time-outs; a cancel ends it as failed
    IgnoresCancel,     // pending; a cancel is accepted and ends it only 2 s later
};

class FakeComDevice {
public:
    static constexpr DWORD StatusSuccess = 0;
    static constexpr DWORD StatusPending = 0x00000103;
    static constexpr DWORD StatusTimeout = 0x00000102;
    static constexpr DWORD StatusCancelled = 0xC0000120;
    static constexpr DWORD StatusNotConnected = 0xC000009D;

    FakeComDevice() : Release(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) { Current = this; }
    ~FakeComDevice() {
        ReleaseBlocked();
        WaitUntil([&] { return Inside == 0; }, std::chrono::seconds(10));
        for (std::thread& t : Late) {
            t.join();
        }
        Current = nullptr;
        ::CloseHandle(Release);
    }
    FakeComDevice(const FakeComDevice&) = delete;
    FakeComDevice& operator=(const FakeComDevice&) = delete;

    // The table with every device call played by this device; the timer calls are the system's.
    static TComWin32Api Api() {
        TComWin32Api api = SystemComWin32Api();
        api.CreateFileA = CreateFileA;
        api.CloseHandle = CloseHandle;
        api.SetupComm = [](HANDLE h, DWORD, DWORD) { return Plain("SetupComm", h); };
        api.SetCommState = [](HANDLE h, LPDCB) { return Plain("SetCommState", h); };
        api.SetCommTimeouts = [](HANDLE h, LPCOMMTIMEOUTS) { return Plain("SetCommTimeouts", h); };
        api.EscapeCommFunction = [](HANDLE h, DWORD code) {
            return Plain("EscapeCommFunction " + std::to_string(code), h);
        };
        api.PurgeComm = PurgeComm;
        api.ClearCommError = ClearCommError;
        api.GetCommModemStatus = [](HANDLE h, LPDWORD status) {
            *status = 0;
            return Plain("GetCommModemStatus", h);
        };
        api.SetCommMask = SetCommMask;
        api.WaitCommEvent = WaitCommEvent;
        api.WriteFile = WriteFile;
        api.ReadFile = ReadFile;
        api.CancelIoEx = CancelIoEx;
        api.GetOverlappedResult = GetOverlappedResult;
        api.WaitForSingleObject = WaitForSingleObject;
        return api;
    }

    // Set-up, before the calls.
    TFakeEnd WriteEnd = TFakeEnd::AtOnce;
    TFakeEnd ReadEnd = TFakeEnd::AtOnce;
    std::string Line;               // bytes that have arrived, for reads and the input count
    std::size_t Moved = 0;          // bytes moved by a transfer that ends before its count
    std::set<std::string> Blocking; // calls (by first word) that never return by themselves

    // Ends the calls that block: they return as the device would have.
    void ReleaseBlocked() { ::SetEvent(Release); }

    // Ends the pending event wait with `mask`; false when none is pending.
    bool Fire(DWORD mask) {
        std::lock_guard<std::mutex> lock(Lock);
        for (auto it = Pendings.begin(); it != Pendings.end(); ++it) {
            if (it->Mask != nullptr) {
                *it->Mask = mask;
                Complete(*it, StatusSuccess, 0);
                Pendings.erase(it);
                return true;
            }
        }
        return false;
    }

    // Waits, at most `limit`, until `done` holds; `done` runs under the device's lock.
    template <typename Done>
    bool WaitUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(Lock);
        return Changed.wait_for(lock, limit, done);
    }

    // Observations, read under the lock (WaitUntil) or once the calls have ended.
    std::vector<std::string> Calls;       // "name handle" for every call on the device
    std::set<HANDLE> Open;                // handles open now
    std::vector<HANDLE> WaitsStarted;     // the handle of each WaitCommEvent
    const OVERLAPPED* LastWait = nullptr; // the OVERLAPPED of the latest WaitCommEvent
    const OVERLAPPED* LastTransfer = nullptr;
    int OnClosedHandle = 0; // calls made on a handle that was not open
    int WaitsEndedByMask = 0;
    int CancelsNotFound = 0;
    int CancelsHonoured = 0;
    int CancelsIgnored = 0;
    int Inside = 0; // blocking calls that have not returned yet
    int BlockedReturned = 0;

    // Calls made on `handle` named `name` (first word).
    int Count(const std::string& name, HANDLE handle) const {
        const std::string entry = name + " " + Name(handle);
        return static_cast<int>(std::count(Calls.begin(), Calls.end(), entry));
    }
    static std::string Name(HANDLE handle) {
        return std::to_string(reinterpret_cast<std::uintptr_t>(handle));
    }

private:
    struct Transfer {
        OVERLAPPED* Overlapped = nullptr;
        HANDLE Handle = nullptr;
        DWORD* Mask = nullptr; // an event wait
        char* Into = nullptr;  // a read's buffer
        DWORD Size = 0;
        TFakeEnd End = TFakeEnd::AtOnce;
    };

    static FakeComDevice& Device() { return *Current; }

    // Records the call; false (ERROR_INVALID_HANDLE) on a handle that is not open.  Under
    // the lock.
    bool Enter(const std::string& call, HANDLE handle) {
        Calls.push_back(call + " " + Name(handle));
        Changed.notify_all();
        if (Open.count(handle) == 0) {
            ++OnClosedHandle;
            ::SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        return true;
    }

    // A call the test made block waits here, without the lock, for the release or 5 s.
    void MaybeBlock(const std::string& call) {
        const std::string first = call.substr(0, call.find(' '));
        {
            std::lock_guard<std::mutex> lock(Lock);
            if (Blocking.count(first) == 0) {
                return;
            }
            ++Inside;
        }
        ::WaitForSingleObject(Release, 5000);
        std::lock_guard<std::mutex> lock(Lock);
        --Inside;
        ++BlockedReturned;
        Changed.notify_all();
    }

    static BOOL Plain(const std::string& call, HANDLE handle) {
        FakeComDevice& d = Device();
        d.MaybeBlock(call);
        std::lock_guard<std::mutex> lock(d.Lock);
        return d.Enter(call, handle);
    }

    // Ends a transfer: its status, the count moved, the bytes of a read, its event.
    void Complete(Transfer& t, DWORD status, DWORD moved) {
        if (t.Into != nullptr) {
            std::copy_n(Line.begin(), std::min<std::size_t>(moved, Line.size()), t.Into);
            Line.erase(0, std::min<std::size_t>(moved, Line.size()));
        }
        t.Overlapped->InternalHigh = moved;
        t.Overlapped->Internal = status;
        ::SetEvent(t.Overlapped->hEvent);
        Changed.notify_all();
    }

    // Starts a transfer as `end` says; returns what the call returns.
    BOOL Start(Transfer t, DWORD fullCount) {
        t.Overlapped->Internal = StatusPending;
        t.Overlapped->InternalHigh = 0;
        ::ResetEvent(t.Overlapped->hEvent);
        if (t.Mask == nullptr) {
            LastTransfer = t.Overlapped;
        }
        if (t.Mask == nullptr && t.End == TFakeEnd::AtOnce) {
            Complete(t, StatusSuccess, fullCount);
            return TRUE;
        }
        Pendings.push_back(t);
        Changed.notify_all();
        ::SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }

    DWORD FullCount(const Transfer& t) const {
        return t.Into != nullptr ? static_cast<DWORD>(std::min<std::size_t>(t.Size, Line.size()))
                                 : t.Size;
    }

    static HANDLE WINAPI CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                     HANDLE) {
        FakeComDevice& d = Device();
        std::lock_guard<std::mutex> lock(d.Lock);
        std::uintptr_t value = 0x100;
        while (d.Open.count(reinterpret_cast<HANDLE>(value)) != 0) {
            value += 4;
        }
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        d.Open.insert(handle);
        d.Calls.push_back("CreateFileA " + Name(handle));
        return handle;
    }

    // Closing the handle cancels what is still pending on it, as the system does.
    static BOOL WINAPI CloseHandle(HANDLE handle) {
        FakeComDevice& d = Device();
        std::lock_guard<std::mutex> lock(d.Lock);
        if (!d.Enter("CloseHandle", handle)) {
            return FALSE;
        }
        d.Open.erase(handle);
        d.CancelWhere([&](const Transfer& t) { return t.Handle == handle; });
        return TRUE;
    }

    static BOOL WINAPI PurgeComm(HANDLE handle, DWORD flags) {
        FakeComDevice& d = Device();
        const std::string call = "PurgeComm " + std::to_string(flags);
        d.MaybeBlock(call);
        std::lock_guard<std::mutex> lock(d.Lock);
        if (!d.Enter(call, handle)) {
            return FALSE;
        }
        d.CancelWhere([&](const Transfer& t) {
            return t.Handle == handle && t.Mask == nullptr &&
                   (flags & (t.Into != nullptr ? PURGE_RXABORT : PURGE_TXABORT)) != 0;
        });
        if ((flags & PURGE_RXCLEAR) != 0) {
            d.Line.clear();
        }
        return TRUE;
    }

    static BOOL WINAPI ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
        FakeComDevice& d = Device();
        d.MaybeBlock("ClearCommError");
        std::lock_guard<std::mutex> lock(d.Lock);
        if (!d.Enter("ClearCommError", handle)) {
            return FALSE;
        }
        if (errors != nullptr) {
            *errors = 0;
        }
        if (status != nullptr) {
            *status = COMSTAT{};
            status->cbInQue = static_cast<DWORD>(d.Line.size());
        }
        return TRUE;
    }

    // A pending event wait ends at once, its mask empty.
    static BOOL WINAPI SetCommMask(HANDLE handle, DWORD mask) {
        FakeComDevice& d = Device();
        const std::string call = "SetCommMask " + std::to_string(mask);
        d.MaybeBlock(call);
        std::lock_guard<std::mutex> lock(d.Lock);
        if (!d.Enter(call, handle)) {
            return FALSE;
        }
        for (auto it = d.Pendings.begin(); it != d.Pendings.end();) {
            if (it->Handle == handle && it->Mask != nullptr) {
                *it->Mask = 0;
                d.Complete(*it, StatusSuccess, 0);
                ++d.WaitsEndedByMask;
                it = d.Pendings.erase(it);
            } else {
                ++it;
            }
        }
        return TRUE;
    }

    static BOOL WINAPI WaitCommEvent(HANDLE handle, LPDWORD mask, LPOVERLAPPED overlapped) {
        FakeComDevice& d = Device();
        std::lock_guard<std::mutex> lock(d.Lock);
        if (!d.Enter("WaitCommEvent", handle)) {
            return FALSE;
        }
        d.WaitsStarted.push_back(handle);
        d.LastWait = overlapped;
        *mask = 0;
        return d.Start({overlapped, handle, mask, nullptr, 0, TFakeEnd::OnCancel}, 0);
    }

    static BOOL WINAPI WriteFile(HANDLE handle, LPCVOID, DWORD size, LPDWORD,
                                 LPOVERLAPPED overlapped) {
        FakeComDevice& d = Device();
        std::lock_guard<std::mutex> lock(d.Lock);
        if (!d.Enter("WriteFile", handle)) {
            return FALSE;
        }
        return d.Start({overlapped, handle, nullptr, nullptr, size, d.WriteEnd}, size);
    }

    static BOOL WINAPI ReadFile(HANDLE handle, LPVOID into, DWORD size, LPDWORD,
                                LPOVERLAPPED overlapped) {
        FakeComDevice& d = Device();
        std::lock_guard<std::mutex> lock(d.Lock);
        if (!d.Enter("ReadFile", handle)) {
            return FALSE;
        }
        Transfer t{overlapped, handle, nullptr, static_cast<char*>(into), size, d.ReadEnd};
        return d.Start(t, d.FullCount(t));
    }

    static BOOL WINAPI CancelIoEx(HANDLE handle, LPOVERLAPPED overlapped) {
        FakeComDevice& d = Device();
        std::lock_guard<std::mutex> lock(d.Lock);
        if (!d.Enter("CancelIoEx", handle)) {
            return FALSE;
        }
        const auto it = std::find_if(d.Pendings.begin(), d.Pendings.end(), [&](const Transfer& t) {
            return t.Handle == handle && t.Overlapped == overlapped;
        });
        if (it == d.Pendings.end()) {
            ++d.CancelsNotFound;
            ::SetLastError(ERROR_NOT_FOUND);
            return FALSE;
        }
        d.CancelWhere([&](const Transfer& t) { return t.Overlapped == overlapped; });
        return TRUE;
    }

    // Under the lock: cancels the pending transfers that `which` picks, as their ends say.
    template <typename Which> void CancelWhere(Which which) {
        for (auto it = Pendings.begin(); it != Pendings.end();) {
            if (!which(*it)) {
                ++it;
                continue;
            }
            if (it->End == TFakeEnd::IgnoresCancel) {
                ++CancelsIgnored;
                OVERLAPPED* overlapped = it->Overlapped;
                // The driver's own delay; the OVERLAPPED is the layer's, given up and kept.
                Late.emplace_back([overlapped] {
                    std::this_thread::sleep_for(std::chrono::seconds(2));
                    overlapped->InternalHigh = 0;
                    overlapped->Internal = StatusCancelled;
                    ::SetEvent(overlapped->hEvent);
                });
                it = Pendings.erase(it);
                continue;
            }
            ++CancelsHonoured;
            const DWORD moved = it->Mask != nullptr ? 0 : static_cast<DWORD>(Moved);
            Complete(*it, it->End == TFakeEnd::CancelFails ? StatusNotConnected : StatusCancelled,
                     moved);
            it = Pendings.erase(it);
        }
    }

    // The layer waits for a transfer's event: a driver that ends it by then does so now.
    static DWORD WINAPI WaitForSingleObject(HANDLE event, DWORD ms) {
        FakeComDevice& d = Device();
        {
            std::lock_guard<std::mutex> lock(d.Lock);
            for (auto it = d.Pendings.begin(); it != d.Pendings.end(); ++it) {
                if (it->Overlapped->hEvent != event) {
                    continue;
                }
                const DWORD moved = static_cast<DWORD>(d.Moved);
                switch (it->End) {
                case TFakeEnd::WhenWaited:
                    d.Complete(*it, StatusSuccess, d.FullCount(*it));
                    break;
                case TFakeEnd::TimeoutWhenWaited:
                    d.Complete(*it, StatusTimeout, moved);
                    break;
                case TFakeEnd::FailsWhenWaited:
                    d.Complete(*it, StatusNotConnected, moved);
                    break;
                default:
                    continue;
                }
                d.Pendings.erase(it);
                break;
            }
        }
        return ::WaitForSingleObject(event, ms);
    }

    // As documented: ERROR_IO_INCOMPLETE while pending (without waiting), the count moved
    // always, and failure for an error status (NT_ERROR), with its Win32 error.
    static BOOL WINAPI GetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD count,
                                           BOOL wait) {
        {
            FakeComDevice& d = Device();
            std::lock_guard<std::mutex> lock(d.Lock);
            d.Calls.push_back("GetOverlappedResult " + Name(handle));
        }
        if (overlapped->Internal == StatusPending) {
            if (!wait) {
                ::SetLastError(ERROR_IO_INCOMPLETE);
                return FALSE;
            }
            ::WaitForSingleObject(overlapped->hEvent, INFINITE);
        }
        *count = static_cast<DWORD>(overlapped->InternalHigh);
        const DWORD status = static_cast<DWORD>(overlapped->Internal);
        if ((status >> 30) != 3) {
            return TRUE; // success, information and warning statuses
        }
        ::SetLastError(status == StatusCancelled ? ERROR_OPERATION_ABORTED
                                                 : ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }

    static inline FakeComDevice* Current = nullptr;

    std::mutex Lock;
    std::condition_variable Changed;
    HANDLE Release;
    std::vector<Transfer> Pendings;
    std::vector<std::thread> Late;
};
