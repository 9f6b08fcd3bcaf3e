// The Windows layer of the serial component, for tests: its device handle, and the table of
// the Win32 calls it makes on the device, so that a test can play drivers that Wine cannot
// (a pulled adapter that ignores a cancel or its time-outs, a call that never returns, line
// errors reported to a call made for another purpose, a system without a high-resolution
// timer) and run the whole layer on a made-up device.  The layer makes those calls only
// through the table; tests give it a table with some entries replaced.  Windows only; the
// core never includes this header.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <memory>

class TComOs;

struct TComWin32Api {
    // The device itself.
    HANDLE(WINAPI* CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    // Only ever on the device handle.
    BOOL(WINAPI* CloseHandle)(HANDLE);
    // Calls that take no OVERLAPPED: the layer makes them on a helper thread of its own and
    // waits for each at most DriverCallLimitMs.
    BOOL(WINAPI* SetupComm)(HANDLE, DWORD, DWORD);
    BOOL(WINAPI* SetCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* SetCommTimeouts)(HANDLE, LPCOMMTIMEOUTS);
    BOOL(WINAPI* EscapeCommFunction)(HANDLE, DWORD);
    BOOL(WINAPI* PurgeComm)(HANDLE, DWORD);
    BOOL(WINAPI* ClearCommError)(HANDLE, LPDWORD, LPCOMSTAT);
    BOOL(WINAPI* GetCommModemStatus)(HANDLE, LPDWORD);
    BOOL(WINAPI* SetCommMask)(HANDLE, DWORD);
    // The event thread's wait, the transfers on the layer's own OVERLAPPED and bytes, and
    // their ends.
    BOOL(WINAPI* WaitCommEvent)(HANDLE, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* CancelIoEx)(HANDLE, LPOVERLAPPED);
    BOOL(WINAPI* GetOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
    // Only ever on the event of a transfer's OVERLAPPED.
    DWORD(WINAPI* WaitForSingleObject)(HANDLE, DWORD);
    // The high-resolution waitable timer (Windows 10 1803 and later), and the system timer
    // resolution asked for where it cannot be created.
    HANDLE(WINAPI* CreateWaitableTimerExW)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);
    UINT(WINAPI* TimeBeginPeriod)(UINT);
    UINT(WINAPI* TimeEndPeriod)(UINT);
};

// How long the caller of a call without an OVERLAPPED waits for the driver's answer.  A
// driver that behaves answers within milliseconds (a USB adapter's control request
// included); one that has not answered in 2 s has stopped, and the user should not wait for
// it any longer than that.  The call then counts as failed, and so does every later one of
// the same layer until the driver has answered it.
inline constexpr std::uint32_t DriverCallLimitMs = 2000;

// The system's own functions.
const TComWin32Api& SystemComWin32Api();

// The Windows layer making the calls of `api` through it (CreatePlatformComOs gives it
// SystemComWin32Api()).
std::unique_ptr<TComOs> CreateWin32ComOs(const TComWin32Api& api);

// The open device's HANDLE of a Windows layer, INVALID_HANDLE_VALUE while it is closed,
// nullptr for any other layer.
void* ComOsWin32Handle(TComOs& os);

// True when the event wait or transfer whose OVERLAPPED is at `overlapped` was given up
// while the system still owned it: the OVERLAPPED, its event and the mask word or bytes are
// then kept for good, never freed, so that a late completion writes into memory nobody else
// uses.
bool ComWin32Abandoned(const void* overlapped);
