// TComOs: the few operating-system calls TBComPort is built on.
//
// TBComPort holds the settings, the open state and every rule the user can observe; a TComOs
// only talks to one device.  Each platform has one implementation (ComOsPosix.cpp here, a
// Win32 one over CreateFileA / SetupComm / SetCommState / SetCommTimeouts /
// EscapeCommFunction / PurgeComm / ClearCommError / GetCommModemStatus and overlapped
// ReadFile / WriteFile), and tests use a recording one.  Operations report success as bool;
// TBComPort turns a failure into the matching EComPort message.
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

// Modem status bits as GetCommModemStatus reports them.
inline constexpr std::uint32_t ComModemCts = 16;
inline constexpr std::uint32_t ComModemDsr = 32;
inline constexpr std::uint32_t ComModemRing = 64;
inline constexpr std::uint32_t ComModemRlsd = 128;

struct TComTransfer {
    bool Ok = false;       // false: the transfer could not be started or did not complete
    std::size_t Count = 0; // bytes transferred
};

class TComOs {
public:
    virtual ~TComOs() = default;

    // Opens the device named by a port name exclusively, for transfers that never block
    // the process beyond their time-outs.
    virtual TComOpenResult OpenDevice(const std::string& port) = 0;
    // Closes the device if one is open; safe to call at any time.
    virtual void CloseDevice() = 0;

    virtual bool SetupBuffers(std::int32_t inSize, std::int32_t outSize) = 0;
    virtual bool ApplyLineSettings(const TComLineSettings& line) = 0;
    // Stored for the following reads (and given to the system where it applies them).
    virtual bool ApplyTimeouts(const TComTimeoutValues& timeouts) = 0;
    virtual bool Escape(TComEscape code) = 0;
    // Ends pending transfers and discards both driver queues.
    virtual bool Purge() = 0;

    // Writes all `size` bytes and waits until they have left the driver, within `budgetNs`
    // (no limit when empty).  Count is what got out by the end of the budget.
    virtual TComTransfer Write(const char* data, std::size_t size,
                               std::optional<std::uint64_t> budgetNs) = 0;
    // Reads at most `size` bytes under the read rules of the applied time-outs.
    virtual TComTransfer Read(char* data, std::size_t size) = 0;

    virtual bool InQueueCount(std::uint32_t& count) = 0;
    virtual bool ModemStatus(std::uint32_t& status) = 0;
};

// This platform's layer.
std::unique_ptr<TComOs> CreatePlatformComOs();
