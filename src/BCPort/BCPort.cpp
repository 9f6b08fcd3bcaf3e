#include "BCPort.h"

#include <algorithm>
#include <optional>

#include "ComOs.h"
#include "ComThread.h"
#include "ComTiming.h"
#include "ComUiThread.h"

namespace {
constexpr std::uint32_t RateTable[15] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                         19200, 38400, 56000, 57600, 115200, 128000, 256000};

// Binary mode, DTR and RTS raised while open; the parity bit only when parity is tested.
constexpr std::uint32_t FlagsNoParity = 0x1011;
constexpr std::uint32_t FlagsParity = 0x1013;

std::uint32_t AsSystemValue(std::int32_t v) {
    return static_cast<std::uint32_t>(v); // a negative value becomes all ones and above
}

// A positive odd buffer size is rounded down to even, as the driver expects.
std::int32_t EvenBufSize(std::int32_t v) {
    return v > 0 && (v % 2) != 0 ? v - 1 : v;
}
} // namespace

std::uint32_t BaudRateValue(TBaudRate rate) {
    return RateTable[static_cast<std::size_t>(rate)];
}

// --- TComTimeouts ---

void TComTimeouts::Change(std::int32_t& field, std::int32_t v) {
    if (field == v) {
        return;
    }
    field = v;
    if (ComPort != nullptr) {
        ComPort->ApplyTimeouts();
    }
}

void TComTimeouts::SetReadInterval(std::int32_t v) {
    Change(ReadInterval_, v);
}
void TComTimeouts::SetReadTotalMultiplier(std::int32_t v) {
    Change(ReadTotalMultiplier_, v);
}
void TComTimeouts::SetReadTotalConstant(std::int32_t v) {
    Change(ReadTotalConstant_, v);
}
void TComTimeouts::SetWriteTotalMultiplier(std::int32_t v) {
    Change(WriteTotalMultiplier_, v);
}
void TComTimeouts::SetWriteTotalConstant(std::int32_t v) {
    Change(WriteTotalConstant_, v);
}

void TComTimeouts::CopyValuesFrom(const TComTimeouts& other) {
    ReadInterval_ = other.ReadInterval_;
    ReadTotalMultiplier_ = other.ReadTotalMultiplier_;
    ReadTotalConstant_ = other.ReadTotalConstant_;
    WriteTotalMultiplier_ = other.WriteTotalMultiplier_;
    WriteTotalConstant_ = other.WriteTotalConstant_;
}

// --- TBComPort: construction ---

TBComPort::TBComPort() : TBComPort(CreatePlatformComOs()) {}

TBComPort::TBComPort(std::unique_ptr<TComOs> os) : Os(std::move(os)) {}

TBComPort::~TBComPort() {
    try {
        Close();
    } catch (const EComPort&) {
        // The port goes away with the component; the thread and the device end regardless.
        StopEventThread();
        EventWindow_.reset();
        Os->CloseDevice();
        IsOpen_ = false;
    }
}

// --- Open and close ---

bool TBComPort::Open() {
    if (IsOpen_) {
        return true;
    }
    // No port chosen (an empty port list): no such port, whatever the system would say
    // about an empty device name.
    if (Port_.empty()) {
        throw EComPort(1);
    }
    switch (Os->OpenDevice(Port_)) {
    case TComOpenResult::Ok:
        break;
    case TComOpenResult::NotFound:
        throw EComPort(1);
    case TComOpenResult::Denied:
        throw EComPort(2, Os->HolderText());
    case TComOpenResult::Other:
        Os->CloseDevice();
        throw EComPort(10);
    }
    IsOpen_ = true;
    try {
        ApplySettings();
        if (SyncMethod_ == TSyncMethod::smWindowSync) {
            EventWindow_ = std::make_unique<TComEventWindow>(*this);
        }
        EventThread_ = std::make_unique<TComThread>(*this);
    } catch (...) {
        EventWindow_.reset();
        Os->CloseDevice();
        IsOpen_ = false;
        throw;
    }
    return IsOpen_;
}

bool TBComPort::Close() {
    if (!IsOpen_) {
        return true;
    }
    SwitchDTR(false);
    SwitchRTS(false);
    AbortTransfers();
    StopEventThread();
    EventWindow_.reset();
    Os->CloseDevice();
    IsOpen_ = false;
    return true;
}

void TBComPort::StopEventThread() {
    if (!EventThread_) {
        return;
    }
    // A delivery already waiting for this (the user-interface) thread runs here; one that
    // would come later is dropped by the stop, so the wait below never needs this thread.
    EventThread_->ServePending();
    EventThread_.reset();
}

void TBComPort::SwitchDTR(bool on) {
    if (!Os->Escape(on ? TComEscape::SetDtr : TComEscape::ClrDtr)) {
        throw EComPort(13);
    }
}

void TBComPort::SwitchRTS(bool on) {
    if (!Os->Escape(on ? TComEscape::SetRts : TComEscape::ClrRts)) {
        throw EComPort(13);
    }
}

void TBComPort::AbortTransfers() {
    if (!Os->Purge()) {
        throw EComPort(6);
    }
}

// --- Settings reaching the system ---

void TBComPort::ApplySettings() {
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeouts();
}

void TBComPort::ApplyBufferSizes() {
    if (IsOpen_ && !Os->SetupBuffers(InBufSize_, OutBufSize_)) {
        throw EComPort(10);
    }
}

void TBComPort::ApplyLineSettings() {
    if (!IsOpen_) {
        return;
    }
    TComLineSettings line;
    line.BaudRate = BaudRateValue(BaudRate_);
    line.Flags = Parity_ == TParity::paNone ? FlagsNoParity : FlagsParity;
    line.ByteSize = static_cast<std::uint8_t>(static_cast<int>(ByteSize_) + 5);
    line.Parity = static_cast<std::uint8_t>(Parity_);
    line.StopBits = static_cast<std::uint8_t>(StopBits_);
    if (!Os->ApplyLineSettings(line)) {
        throw EComPort(8);
    }
}

void TBComPort::ApplyTimeouts() {
    if (!IsOpen_) {
        return;
    }
    TComTimeoutValues t;
    t.ReadInterval = AsSystemValue(Timeouts_.ReadInterval());
    t.ReadTotalMultiplier = AsSystemValue(Timeouts_.ReadTotalMultiplier());
    t.ReadTotalConstant = AsSystemValue(Timeouts_.ReadTotalConstant());
    t.WriteTotalMultiplier = AsSystemValue(Timeouts_.WriteTotalMultiplier());
    t.WriteTotalConstant = AsSystemValue(Timeouts_.WriteTotalConstant());
    if (!Os->ApplyTimeouts(t)) {
        throw EComPort(9);
    }
}

// --- Property setters ---

void TBComPort::SetBaudRate(TBaudRate v) {
    if (BaudRate_ != v) {
        BaudRate_ = v;
        ApplyLineSettings();
    }
}

void TBComPort::SetByteSize(TByteSize v) {
    if (ByteSize_ != v) {
        ByteSize_ = v;
        ApplyLineSettings();
    }
}

void TBComPort::SetParity(TParity v) {
    if (Parity_ != v) {
        Parity_ = v;
        ApplyLineSettings();
    }
}

void TBComPort::SetStopBits(TStopBits v) {
    if (StopBits_ != v) {
        StopBits_ = v;
        ApplyLineSettings();
    }
}

void TBComPort::SetInBufSize(std::int32_t v) {
    v = EvenBufSize(v);
    if (InBufSize_ != v) {
        InBufSize_ = v;
        ApplyBufferSizes();
    }
}

void TBComPort::SetOutBufSize(std::int32_t v) {
    v = EvenBufSize(v);
    if (OutBufSize_ != v) {
        OutBufSize_ = v;
        ApplyBufferSizes();
    }
}

void TBComPort::SetPort(const std::string& v) {
    // The name is locked while open, even when it would not change.
    if (IsOpen_) {
        throw EComPort(14);
    }
    Port_ = v;
}

void TBComPort::SetSyncMethod(TSyncMethod v) {
    if (SyncMethod_ == v) {
        return;
    }
    if (IsOpen_) {
        throw EComPort(14);
    }
    SyncMethod_ = v;
}

void TBComPort::SetTimeouts(const TComTimeouts& v) {
    Timeouts_.CopyValuesFrom(v);
    ApplyTimeouts();
}

// --- Transfers ---

std::int32_t TBComPort::SendString(const std::string& text) {
    if (text.empty()) {
        return 0;
    }
    if (!IsOpen_) {
        throw EComPort(3);
    }
    TComTimeoutValues t;
    t.WriteTotalMultiplier = AsSystemValue(Timeouts_.WriteTotalMultiplier());
    t.WriteTotalConstant = AsSystemValue(Timeouts_.WriteTotalConstant());
    const std::uint32_t rate = BaudRateValue(BaudRate_);
    const std::uint32_t halfBits =
        CharHalfBits(static_cast<std::uint8_t>(static_cast<int>(ByteSize_) + 5),
                     static_cast<std::uint8_t>(Parity_), static_cast<std::uint8_t>(StopBits_));
    const std::optional<std::uint64_t> budget = WriteBudgetNs(t, text.size(), rate, halfBits);
    const std::uint64_t start = Os->NowNs();
    const TComTransfer done = Os->Write(text.data(), text.size(), budget);
    // A frame cut short would reach the device as a different frame: never return one.
    if (!done.Ok || done.Count != text.size()) {
        throw EComPort(3);
    }
    WaitForLine(text.size(), start, LineTimeNs(text.size(), rate, halfBits), budget);
    return static_cast<std::int32_t>(done.Count);
}

// The caller's next step (a pause, then a short reply read) must start when the frame is on
// the wire, not when the driver took it: wait until the bytes' own line time has passed
// since the write began and the driver's output queue is empty.  Drivers disagree about that
// queue: a pseudo-terminal reports it empty at once, cdc-acm reports kilobytes for a few
// bytes; a count above what this write queued says nothing about it, and the line time alone
// decides.  Some drivers keep reporting a few bytes for good: the system has said that the
// whole write is done, so the queue is watched for a bounded grace only (the budget, or
// NoBudgetGraceNs after the line time where there is none) and then the write stands.
void TBComPort::WaitForLine(std::size_t size, std::uint64_t start, std::uint64_t lineNs,
                            std::optional<std::uint64_t> budget) {
    constexpr std::uint64_t PollStepNs = 1000000;
    constexpr std::uint64_t NoBudgetGraceNs = 1000000000;
    const std::uint64_t lineEnd = start + lineNs;
    // A budget always holds the line time (WriteBudgetNs gives twice that and more).
    const std::uint64_t end = budget ? start + *budget : lineEnd + NoBudgetGraceNs;
    for (;;) {
        const std::uint64_t now = Os->NowNs();
        if (now < lineEnd) {
            Os->SleepNs(lineEnd - now);
            continue;
        }
        std::uint32_t queued = 0;
        // A driver without the count leaves the line time alone.
        if (now >= end || !Os->OutQueueCount(queued) || queued == 0 || queued > size) {
            return;
        }
        Os->SleepNs(std::min(PollStepNs, end - now));
    }
}

std::int32_t TBComPort::ReceiveString(std::string& text, std::int32_t n) {
    if (n <= 0) {
        text.clear();
        return 0;
    }
    if (!IsOpen_) {
        text.clear();
        throw EComPort(4);
    }
    text.resize(static_cast<std::size_t>(n));
    const TComTransfer done = Os->Read(text.data(), text.size());
    if (!done.Ok) {
        text.clear();
        throw EComPort(4);
    }
    text.resize(done.Count);
    return static_cast<std::int32_t>(done.Count);
}

// --- Event dispatch ---

void TBComPort::DispatchEvent(TPortEvent e) {
    switch (e) {
    case TPortEvent::evError: {
        std::uint32_t flags = 0;
        if (!IsOpen_ || !Os->ClearErrors(flags)) {
            throw EComPort(11);
        }
        TComErrors errors = 0;
        const auto add = [&](std::uint32_t flag, TComError member) {
            if ((flags & flag) != 0) {
                errors = static_cast<TComErrors>(errors | ComErrorBit(member));
            }
        };
        add(ComCeFrame, TComError::ceFrame);
        if (Parity_ != TParity::paNone) {
            add(ComCeRxParity, TComError::ceRxParity);
        }
        add(ComCeOverrun, TComError::ceOverrun);
        add(ComCeRxOver, TComError::ceRxOver);
        add(ComCeTxFull, TComError::ceTxFull);
        add(ComCeBreak, TComError::ceBreak);
        add(ComCeIoe, TComError::ceIO);
        add(ComCeMode, TComError::ceMode);
        if (errors != 0 && OnError) {
            OnError(*this, errors);
        }
        break;
    }
    case TPortEvent::evRxChar: {
        // Asked even without a handler; bytes a transfer already took leave 0, and 0 calls
        // nothing.
        const std::int32_t count = InQueueCount();
        if (count > 0 && OnRxChar) {
            OnRxChar(*this, count);
        }
        break;
    }
    case TPortEvent::evTxEmpty:
        if (OnTxEmpty) {
            OnTxEmpty(*this);
        }
        break;
    case TPortEvent::evRing:
        if (OnRing) {
            OnRing(*this);
        }
        break;
    case TPortEvent::evCTS:
        if (OnCTSChange) {
            OnCTSChange(*this, (ReadModemLines() & mlCTS) != 0);
        }
        break;
    case TPortEvent::evDSR:
        if (OnDSRChange) {
            OnDSRChange(*this, (ReadModemLines() & mlDSR) != 0);
        }
        break;
    case TPortEvent::evRLSD:
        if (OnRLSDChange) {
            OnRLSDChange(*this, (ReadModemLines() & mlRLSD) != 0);
        }
        break;
    case TPortEvent::evRx80Full:
        if (OnRx80Full) {
            OnRx80Full(*this);
        }
        break;
    }
}

void TBComPort::EventWindowProc(std::uint32_t message, std::uint32_t code) {
    if (message != TComEventWindow::EventMessage || !IsOpen_) {
        return;
    }
    const TPortEventSet events = MaskToPortEvents(code);
    // Exactly one known code: anything else is ignored.
    if (events == 0 || (events & (events - 1)) != 0 || PortEventsToMask(events) != code) {
        return;
    }
    try {
        TComThread::DispatchEvents(*this, events);
    } catch (...) {
        if (UiThread_ != nullptr) {
            UiThread_->ShowException(std::current_exception());
        }
    }
}

std::int32_t TBComPort::InQueueCount() {
    std::uint32_t count = 0;
    if (!IsOpen_ || !Os->InQueueCount(count)) {
        throw EComPort(11);
    }
    return static_cast<std::int32_t>(count);
}

TModemLineSet TBComPort::ReadModemLines() {
    std::uint32_t status = 0;
    if (!IsOpen_ || !Os->ModemStatus(status)) {
        throw EComPort(12);
    }
    return static_cast<TModemLineSet>((status >> 4) & 0x0F);
}
