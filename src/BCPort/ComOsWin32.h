// The Windows layer of the serial component, for tests: its device handle, and the table of
// the Win32 calls whose driver behaviour Wine cannot show (a pulled adapter that ignores a
// cancel or its time-outs, line errors reported to a call made for another purpose, a
// system without a high-resolution timer).  The layer makes those calls only through the
// table; tests give it a table with some entries replaced.  Windows only; the core never
// includes this header.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <memory>

class TComOs;

struct TComWin32Api {
    // The event thread's wait and its end.
    BOOL(WINAPI* WaitCommEvent)(HANDLE, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* SetCommMask)(HANDLE, DWORD);
    BOOL(WINAPI* CancelIoEx)(HANDLE, LPOVERLAPPED);
    BOOL(WINAPI* GetOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
    // Only ever on the event of a request's OVERLAPPED.
    DWORD(WINAPI* WaitForSingleObject)(HANDLE, DWORD);
    BOOL(WINAPI* ClearCommError)(HANDLE, LPDWORD, LPCOMSTAT);
    // The high-resolution waitable timer (Windows 10 1803 and later), and the system timer
    // resolution asked for where it cannot be created.
    HANDLE(WINAPI* CreateWaitableTimerExW)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);
    UINT(WINAPI* TimeBeginPeriod)(UINT);
    UINT(WINAPI* TimeEndPeriod)(UINT);
    // The transfers, on the layer's own OVERLAPPED and bytes.
    BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
};

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
