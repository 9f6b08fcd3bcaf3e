// TComOs: the few operating-system calls TBComPort is built on.
//
// TBComPort holds the settings, the open state and every rule the user can observe; a TComOs
// only talks to one device.  Each platform has one implementation (ComOsPosix.cpp here, a
// Win32 one over CreateFileA / SetupComm / SetCommState / SetCommTimeouts /
// EscapeCommFunction / PurgeComm / ClearCommError / GetCommModemStatus / SetCommMask /
// WaitCommEvent and overlapped ReadFile / WriteFile), and tests use a recording one.
// Operations report success as bool; TBComPort turns a failure into the matching EComPort
// message.
//
// Threads: the user-interface thread makes every call except those of a TComEventWait and
// SetEventMask / DiscardQueues, which the component's event thread makes while the port is
// open.  ClearErrors, InQueueCount and ModemStatus may come from either.  The two threads use
// the device at the same time (Win32: each with its own OVERLAPPED and event), so an
// implementation keeps no unguarded state shared between those two groups of calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

enum class TComOpenResult : std::uint8_t { Ok, NotFound, Denied, Other };

// The line settings as the Win32 DCB carries them, so every layer receives the same facts.
struct TComLineSettings {
    std::uint32_t BaudRate = 0; // bits per second
    std::uint32_t Flags = 0;    // DCB flags word (see the ComFlag* bits below)
    std::uint8_t ByteSize = 8;  // data bits, 5 to 8
    std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
    std::uint8_t XonChar = 17;  // DC1
    std::uint8_t XoffChar = 19; // DC3
};

inline constexpr std::uint32_t ComFlagBinary = 1U << 0;
inline constexpr std::uint32_t ComFlagParity = 1U << 1;
inline constexpr std::uint32_t ComFlagOutxCtsFlow = 1U << 2;
inline constexpr std::uint32_t ComFlagOutxDsrFlow = 1U << 3;
inline constexpr std::uint32_t ComFlagDtrControlShift = 4; // two bits; 1 = raised while open
inline constexpr std::uint32_t ComFlagOutX = 1U << 8;
inline constexpr std::uint32_t ComFlagInX = 1U << 9;
inline constexpr std::uint32_t ComFlagRtsControlShift = 12; // two bits; 1 = raised while open

// The five time-outs in milliseconds as the system receives them: a negative setting has
// become the all-ones value 4294967295.
struct TComTimeoutValues {
    std::uint32_t ReadInterval = 0;
    std::uint32_t ReadTotalMultiplier = 0;
    std::uint32_t ReadTotalConstant = 0;
    std::uint32_t WriteTotalMultiplier = 0;
    std::uint32_t WriteTotalConstant = 0;
};

// EscapeCommFunction codes.
enum class TComEscape : std::uint8_t { SetRts = 3, ClrRts = 4, SetDtr = 5, ClrDtr = 6 };

// Line events, with the values of the Win32 EV_* bits (SetCommMask / WaitCommEvent).
inline constexpr std::uint32_t ComEvRxChar = 0x0001;   // EV_RXCHAR: a byte was received
inline constexpr std::uint32_t ComEvTxEmpty = 0x0004;  // EV_TXEMPTY: the output queue emptied
inline constexpr std::uint32_t ComEvCts = 0x0008;      // EV_CTS: CTS changed
inline constexpr std::uint32_t ComEvDsr = 0x0010;      // EV_DSR: DSR changed
inline constexpr std::uint32_t ComEvRlsd = 0x0020;     // EV_RLSD: carrier changed
inline constexpr std::uint32_t ComEvErr = 0x0080;      // EV_ERR: framing, overrun or parity
inline constexpr std::uint32_t ComEvRing = 0x0100;     // EV_RING: ring indicator
inline constexpr std::uint32_t ComEvRx80Full = 0x0400; // EV_RX80FULL: input queue 80 % full

// Line error flags, with the values of the Win32 CE_* bits (ClearCommError).
inline constexpr std::uint32_t ComCeRxOver = 0x0001;
inline constexpr std::uint32_t ComCeOverrun = 0x0002;
inline constexpr std::uint32_t ComCeRxParity = 0x0004;
inline constexpr std::uint32_t ComCeFrame = 0x0008;
inline constexpr std::uint32_t ComCeBreak = 0x0010;
inline constexpr std::uint32_t ComCeTxFull = 0x0100;
inline constexpr std::uint32_t ComCeIoe = 0x0400;
inline constexpr std::uint32_t ComCeMode = 0x8000;

// Modem status bits as GetCommModemStatus reports them.
inline constexpr std::uint32_t ComModemCts = 16;
inline constexpr std::uint32_t ComModemDsr = 32;
inline constexpr std::uint32_t ComModemRing = 64;
inline constexpr std::uint32_t ComModemRlsd = 128;

struct TComTransfer {
    bool Ok = false;       // false: the transfer could not be started or did not complete
    std::size_t Count = 0; // bytes transferred
};

enum class TComWaitResult : std::uint8_t {
    Events,  // the wait completed; `occurred` holds the events (possibly none)
    Stopped, // Stop() was called
    Failed   // the wait could not be started or did not complete (device gone, ...)
};

// One event wait of the event thread, with its own stop signal.  Created by
// TComOs::CreateEventWait on the opening thread; Wait and Pause are then called only by the
// event thread, Stop from any thread; destroyed after the event thread has ended.
//
// Win32 mapping, call by call: the constructor creates the stop event (manual-reset, not
// signalled) and the wait's own OVERLAPPED with its event (manual-reset, signalled), and
// holds the device, whose handle stays open while the wait exists; Wait is (unless the stop
// event is set already) WaitCommEvent(handle, &mask, &overlapped) then
// WaitForMultipleObjects({stop, overlapped event}, any, INFINITE): the stop event gives
// Stopped, the wait's event with a successful
// GetOverlappedResult(..., FALSE) gives Events, anything else Failed; Pause is
// WaitForSingleObject(stop, ms); Stop is SetEvent(stop); the destructor cancels a pending
// wait (CancelIoEx), waits for its end at most about 1 s (the event thread has cleared the
// mask already), and closes both events, or, when the wait did not end, keeps its
// OVERLAPPED, event and mask word for good, since the system may still write into them.
class TComEventWait {
public:
    virtual ~TComEventWait() = default;

    // Waits, without a time limit, until one of the events set with SetEventMask occurs, the
    // stop signal is set, or the wait fails.  `occurred` receives the events (ComEv* bits)
    // that occurred; bits outside the mask may be present and are dropped by the caller.
    // Received bytes are never consumed by the wait.
    virtual TComWaitResult Wait(std::uint32_t& occurred) = 0;
    // Sets the stop signal: a pending or later Wait returns Stopped, a Pause ends at once.
    // Safe from any thread; stays set.
    virtual void Stop() = 0;
    // Waits `ms` milliseconds or until the stop signal is set; true when it is set.
    virtual bool Pause(std::uint32_t ms) = 0;
};

class TComOs {
public:
    virtual ~TComOs() = default;

    // Opens the device named by a port name exclusively, for transfers that never block
    // the process beyond their time-outs.
    virtual TComOpenResult OpenDevice(const std::string& port) = 0;
    // After OpenDevice returned Denied because the device is in use: who holds it, one line
    // for the user; empty where the system tells no more than the refusal (Win32).
    virtual std::string HolderText() const { return {}; }
    // Closes the device if one is open; safe to call at any time.
    virtual void CloseDevice() = 0;

    virtual bool SetupBuffers(std::int32_t inSize, std::int32_t outSize) = 0;
    virtual bool ApplyLineSettings(const TComLineSettings& line) = 0;
    // Stored for the following reads (and given to the system where it applies them).
    virtual bool ApplyTimeouts(const TComTimeoutValues& timeouts) = 0;
    virtual bool Escape(TComEscape code) = 0;
    // Ends pending transfers (PurgeComm with PURGE_TXABORT | PURGE_RXABORT; a layer without
    // such transfers may discard both driver queues).
    virtual bool Purge() = 0;
    // Discards whatever is in the driver's output and input queues (PurgeComm with
    // PURGE_TXCLEAR | PURGE_RXCLEAR).  Called by the event thread on its way out.
    virtual bool DiscardQueues() = 0;

    // Hands all `size` bytes to the driver within `budgetNs` (no limit when empty) and
    // returns; it does not wait for them to leave the driver (TBComPort waits for the line
    // itself, with OutQueueCount and the clock below).  Count is what the driver accepted by
    // the end of the budget; Ok false when the write failed.  Win32: overlapped WriteFile
    // and its completion, under the applied write time-outs.
    virtual TComTransfer Write(const char* data, std::size_t size,
                               std::optional<std::uint64_t> budgetNs) = 0;
    // Reads at most `size` bytes under the read rules of the applied time-outs.
    virtual TComTransfer Read(char* data, std::size_t size) = 0;

    // Received bytes waiting in the driver (ClearCommError's cbInQue).
    virtual bool InQueueCount(std::uint32_t& count) = 0;
    // Bytes the driver reports as not yet sent (ClearCommError's cbOutQue).  Some drivers
    // report more than was written, some report 0 while bytes are still on their way.
    virtual bool OutQueueCount(std::uint32_t& count) = 0;
    // The line error flags (ComCe* bits) raised since the last call, which clears them
    // (ClearCommError's lpErrors).
    virtual bool ClearErrors(std::uint32_t& errors) = 0;
    virtual bool ModemStatus(std::uint32_t& status) = 0;

    // The events (ComEv* bits) that event waits report; 0 ends a pending wait with no
    // events (SetCommMask).
    virtual bool SetEventMask(std::uint32_t mask) = 0;
    // A new event wait on the open device with its stop signal, not yet waiting; nullptr
    // when its objects cannot be created.
    virtual std::unique_ptr<TComEventWait> CreateEventWait() = 0;

    // The clock the component measures line times with, and a plain sleep on it; tests
    // replace both.  Monotonic nanoseconds.
    virtual std::uint64_t NowNs();
    virtual void SleepNs(std::uint64_t ns);
};

// This platform's layer.
std::unique_ptr<TComOs> CreatePlatformComOs();
