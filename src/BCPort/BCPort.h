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
//                     bytes, counted from the first byte; 0 means no interval limit.
//                     The read ends as soon as N bytes have arrived or a limit is reached and
//                     returns what has arrived, possibly nothing; a limit is not a failure.
//                     ReadInterval "all ones" with both totals 0 returns at once with the
//                     bytes already queued.
//   Write of N bytes: total budget = WriteTotalMultiplier * N + WriteTotalConstant, none when
//                     both are 0.  A limited budget is lengthened by twice the time the N
//                     bytes need on the line at BaudRate (10 bits a byte) plus 50 ms, so a
//                     slow rate never cuts a frame.  SendString returns once the bytes have
//                     left the driver; when not all of them could within the budget it raises
//                     EComPort 3: a frame is never sent in part without the caller knowing.
//   Waits use a monotonic clock with sub-millisecond resolution; interrupted system calls
//   are retried.  With all five values 1 a ReceiveString(40) on a silent line returns empty
//   after about 41 ms.
#pragma once

#include <cstddef>
#include <cstdint>
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

class TBComPort;
class TComOs;

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
    void ApplySettings();
    void ApplyBufferSizes();
    void ApplyLineSettings();
    void ApplyTimeouts();
    bool WaitForLine(std::size_t size, std::uint64_t start, std::uint64_t lineNs,
                     std::optional<std::uint64_t> budget);

    std::unique_ptr<TComOs> Os;
    TBaudRate BaudRate_ = TBaudRate::br9600;
    TByteSize ByteSize_ = TByteSize::bs8;
    bool IsOpen_ = false;
    std::int32_t InBufSize_ = 2048;
    std::int32_t OutBufSize_ = 2048;
    TParity Parity_ = TParity::paNone;
    std::string Port_ = "COM2";
    TStopBits StopBits_ = TStopBits::sb1;
    TSyncMethod SyncMethod_ = TSyncMethod::smThreadSync;
    TComTimeouts Timeouts_{this};
};
