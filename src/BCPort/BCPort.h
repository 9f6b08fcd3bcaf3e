// TBComPort: one serial (COM) port of the operating system.
//
// The component keeps the port's settings, opens the device exclusively, applies the
// settings, and offers blocking string transfers bounded by the port's time-outs.
// Every failure raises EComPort with one of the numbered messages of ComMessages.h;
// nothing returns an error code.
//
// Time-out contract of SendString / ReceiveString (all values in milliseconds; a negative
// value means "all ones", 4294967295):
//   Read of N bytes:  total budget = ReadTotalMultiplier * N + ReadTotalConstant, none when
//                     both are 0.  ReadInterval limits the quiet time between two received
//                     bytes, counted from the first byte; 0 means no interval limit.  Quiet
//                     means no character on the line: bytes that follow each other at the
//                     line's rate never end a read, however slow the rate (where the
//                     component measures the interval itself, it adds one character time).
//                     The read ends as soon as N bytes have arrived or a limit is reached and
//                     returns what has arrived, possibly nothing; a limit is not a failure.
//                     ReadInterval "all ones" with both totals 0 returns at once with the
//                     bytes already queued.
//   Write of N bytes: total budget = WriteTotalMultiplier * N + WriteTotalConstant, none when
//                     both are 0.  A limited budget is lengthened by twice the time the N
//                     bytes need on the line at BaudRate (10 bits a byte) plus 50 ms, so a
//                     slow rate never cuts a frame.  When the system refuses or fails the
//                     write, or reports fewer than N bytes written, SendString raises
//                     EComPort 3: a frame is never sent in part without the caller knowing.
//                     Otherwise it returns N, after waiting for the line: until the N
//                     bytes' own line time at the port's rate and character format (start
//                     bit, data bits, parity bit, stop bits) has passed since the write
//                     began, and until the driver reports its output queue empty, polled
//                     every 1 ms at most (a count larger than N says nothing about this
//                     write and leaves the line time alone).  The queue is watched until the
//                     budget above ends, or for 1 s after the line time where there is no
//                     budget; a queue still not empty then is no failure.
//   Waits use a monotonic clock with sub-millisecond resolution; interrupted system calls
//   are retried.  With all five values 1 a ReceiveString(40) on a silent line returns empty
//   after about 41 ms.
//
// Events: while the port is open one event thread (TComThread) waits for the line events in
// WatchedEvents and delivers them to the On* handlers as SyncMethod says:
//   smThreadSync  the dispatch runs on the user-interface thread (through UiThread) while
//                 the event thread waits for it; a handler's exception ends the event thread
//                 silently, the port stays usable.
//   smWindowSync  one message per event to the receiver on the user-interface thread; the
//                 event thread waits only until it is taken.  A handler's exception is shown
//                 with UiThread->ShowException and the thread goes on.
//   smNone        the dispatch runs on the event thread; an exception ends the thread.
// Events present together are dispatched in this order: line error, received bytes,
// transmit queue empty, ring, CTS, DSR, RLSD, input queue 80 % full.  Handlers are set while
// the port is closed.  Close never waits on the user-interface thread: a dispatch still
// waiting for it is run by Close itself or dropped.  Nor does it wait without limit on a
// driver: the event thread gets 1 s to end and up to 1.5 s more to finish its present use of
// the port, and is let go after that; on Windows an event wait that ignores its cancel is
// given up after 1 s more, and no call on the driver holds its caller longer than 2 s.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ComMessages.h"

enum class TBaudRate : std::uint8_t {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum class TByteSize : std::uint8_t { bs5, bs6, bs7, bs8 };
enum class TParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum class TStopBits : std::uint8_t { sb1, sb1_5, sb2 };
enum class TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };

// Bits per second for each TBaudRate ordinal.
std::uint32_t BaudRateValue(TBaudRate rate);

// Modem input lines: bit 0 CTS, bit 1 DSR, bit 2 RING, bit 3 RLSD.
using TModemLineSet = std::uint8_t;
inline constexpr TModemLineSet mlCTS = 1U << 0;
inline constexpr TModemLineSet mlDSR = 1U << 1;
inline constexpr TModemLineSet mlRING = 1U << 2;
inline constexpr TModemLineSet mlRLSD = 1U << 3;

// Line events, in the bit order of TPortEventSet.
enum class TPortEvent : std::uint8_t {
    evRxChar,   // a byte was received
    evTxEmpty,  // the transmit queue became empty
    evRing,     // the ring indicator was detected
    evCTS,      // CTS changed
    evDSR,      // DSR changed
    evRLSD,     // RLSD (carrier) changed
    evError,    // a line error occurred
    evRx80Full, // the input queue is 80 % full
};
using TPortEventSet = std::uint8_t;
constexpr TPortEventSet PortEventBit(TPortEvent e) {
    return static_cast<TPortEventSet>(1U << static_cast<unsigned>(e));
}
inline constexpr TPortEventSet AllPortEvents = 0xFF;
// The system's event mask (EV_* bits) for a set, and the set of a reported mask; other bits
// are dropped.
std::uint32_t PortEventsToMask(TPortEventSet events);
TPortEventSet MaskToPortEvents(std::uint32_t mask);

// Line errors, in the bit order of TComErrors.
enum class TComError : std::uint8_t {
    ceFrame,
    ceRxParity,
    ceOverrun,
    ceBreak,
    ceIO,
    ceMode,
    ceRxOver,
    ceTxFull
};
using TComErrors = std::uint8_t;
constexpr TComErrors ComErrorBit(TComError e) {
    return static_cast<TComErrors>(1U << static_cast<unsigned>(e));
}

enum class TThreadPriority : std::uint8_t {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};

class TBComPort;
class TComOs;
class TComThread;
class TComUiThread;
class TComEventWindow;

// Event handler types; the first argument is the component.
using TNotifyEvent = std::function<void(TBComPort& sender)>;
using TRxCharEvent = std::function<void(TBComPort& sender, std::int32_t count)>;
using TComSignalEvent = std::function<void(TBComPort& sender, bool state)>;
using TComErrorEvent = std::function<void(TBComPort& sender, TComErrors errors)>;

class TComTimeouts {
public:
    explicit TComTimeouts(TBComPort* owner) : ComPort(owner) {}

    std::int32_t ReadInterval() const { return ReadInterval_; }
    std::int32_t ReadTotalMultiplier() const { return ReadTotalMultiplier_; }
    std::int32_t ReadTotalConstant() const { return ReadTotalConstant_; }
    std::int32_t WriteTotalMultiplier() const { return WriteTotalMultiplier_; }
    std::int32_t WriteTotalConstant() const { return WriteTotalConstant_; }

    // Each setter stores a new value and re-applies the time-outs on an open port.
    void SetReadInterval(std::int32_t v);
    void SetReadTotalMultiplier(std::int32_t v);
    void SetReadTotalConstant(std::int32_t v);
    void SetWriteTotalMultiplier(std::int32_t v);
    void SetWriteTotalConstant(std::int32_t v);

    // Copies the five values only.
    void CopyValuesFrom(const TComTimeouts& other);

private:
    void Change(std::int32_t& field, std::int32_t v);

    TBComPort* ComPort;
    std::int32_t ReadInterval_ = -1;
    std::int32_t ReadTotalMultiplier_ = 0;
    std::int32_t ReadTotalConstant_ = 0;
    std::int32_t WriteTotalMultiplier_ = 100;
    std::int32_t WriteTotalConstant_ = 1000;
};

class TBComPort {
public:
    // The operating-system layer defaults to this platform's; tests may pass a recording one.
    TBComPort();
    explicit TBComPort(std::unique_ptr<TComOs> os);
    ~TBComPort();
    TBComPort(const TBComPort&) = delete;
    TBComPort& operator=(const TBComPort&) = delete;

    bool Open();  // true whenever it returns; failures raise EComPort
    bool Close(); // true when the port is closed afterwards, also when it was not open
    bool IsOpen() const { return IsOpen_; }

    void SwitchDTR(bool on);
    void SwitchRTS(bool on);
    void AbortTransfers();

    // Returns the number of bytes written, which is all of them; empty text gives 0 at once.
    // On a closed port a non-empty text raises message 3.
    std::int32_t SendString(const std::string& text);
    // Reads at most n bytes; `text` then holds exactly the bytes read.  n <= 0 gives an empty
    // text and 0 at once; otherwise a closed port raises message 4.
    std::int32_t ReceiveString(std::string& text, std::int32_t n);
    std::int32_t InQueueCount();
    TModemLineSet ReadModemLines();

    // Where smThreadSync and smWindowSync run the handlers; not owned, outlives the
    // component; set while the port is closed.  Without one their dispatches wait until
    // Close.
    void SetUiThread(TComUiThread* ui) { UiThread_ = ui; }
    TComUiThread* UiThread() const { return UiThread_; }
    TPortEventSet WatchedEvents() const { return WatchedEvents_; }
    TThreadPriority ThreadPriority() const { return ThreadPriority_; }
    // The event thread while the port is open, else none.
    TComThread* EventThread() const { return EventThread_.get(); }
    // The smWindowSync receiver while the port is open in that mode, else none.
    TComEventWindow* EventWindow() const { return EventWindow_.get(); }
    // The receiver's message procedure: message 1025 with an event code (an EV_* bit) runs
    // that event's dispatch step while the port is open; other messages and codes do nothing.
    // An exception is shown through the user-interface side and does not leave.
    void EventWindowProc(std::uint32_t message, std::uint32_t code);

    // Event properties.
    TRxCharEvent OnRxChar;
    TNotifyEvent OnTxEmpty;
    TNotifyEvent OnRing;
    TComSignalEvent OnCTSChange;
    TComSignalEvent OnDSRChange;
    TComSignalEvent OnRLSDChange;
    TComErrorEvent OnError;
    TNotifyEvent OnRx80Full;

    // Published properties.
    TBaudRate BaudRate() const { return BaudRate_; }
    void SetBaudRate(TBaudRate v);
    TByteSize ByteSize() const { return ByteSize_; }
    void SetByteSize(TByteSize v);
    TParity Parity() const { return Parity_; }
    void SetParity(TParity v);
    TStopBits StopBits() const { return StopBits_; }
    void SetStopBits(TStopBits v);
    std::int32_t InBufSize() const { return InBufSize_; }
    void SetInBufSize(std::int32_t v);
    std::int32_t OutBufSize() const { return OutBufSize_; }
    void SetOutBufSize(std::int32_t v);
    // A name from ListSerialPorts ("ttyUSB0", "COM3") or, on POSIX, an absolute path.
    const std::string& Port() const { return Port_; }
    void SetPort(const std::string& v);
    TSyncMethod SyncMethod() const { return SyncMethod_; }
    void SetSyncMethod(TSyncMethod v);
    TComTimeouts& Timeouts() { return Timeouts_; }
    const TComTimeouts& Timeouts() const { return Timeouts_; }
    void SetTimeouts(const TComTimeouts& v);

private:
    friend class TComTimeouts;
    friend class TComThread;
    void DispatchEvent(TPortEvent e);
    void StopEventThread();
    void ApplySettings();
    void ApplyBufferSizes();
    void ApplyLineSettings();
    void ApplyTimeouts();
    void WaitForLine(std::size_t size, std::uint64_t start, std::uint64_t lineNs,
                     std::optional<std::uint64_t> budget);

    std::unique_ptr<TComOs> Os;
    TBaudRate BaudRate_ = TBaudRate::br9600;
    TByteSize ByteSize_ = TByteSize::bs8;
    bool IsOpen_ = false;
    TThreadPriority ThreadPriority_ = TThreadPriority::tpNormal;
    TPortEventSet WatchedEvents_ = AllPortEvents;
    std::unique_ptr<TComThread> EventThread_;
    std::int32_t InBufSize_ = 2048;
    std::int32_t OutBufSize_ = 2048;
    TParity Parity_ = TParity::paNone;
    std::string Port_ = "COM2";
    TStopBits StopBits_ = TStopBits::sb1;
    TSyncMethod SyncMethod_ = TSyncMethod::smThreadSync;
    TComTimeouts Timeouts_{this};
    std::unique_ptr<TComEventWindow> EventWindow_;
    TComUiThread* UiThread_ = nullptr;
};
