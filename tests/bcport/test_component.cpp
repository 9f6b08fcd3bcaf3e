// TBComPort over the recording layer: what reaches the system, in which order, and which
// message each failing step raises.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "BCPort.h"
#include "ComTestHelpers.h"
#include "RecordingComOs.h"

namespace {

using Calls = std::vector<std::string>;

struct Recorded {
    Recorded() {
        auto layer = std::make_unique<RecordingComOs>();
        Os = layer.get();
        Port = std::make_unique<TBComPort>(std::move(layer));
    }
    RecordingComOs* Os;
    std::unique_ptr<TBComPort> Port;
};

TEST(ComponentRecorded, InitialValuesAndNothingSentBeforeOpen) {
    Recorded r;
    TBComPort& p = *r.Port;
    EXPECT_EQ(p.BaudRate(), TBaudRate::br9600);
    EXPECT_EQ(p.ByteSize(), TByteSize::bs8);
    EXPECT_EQ(p.Parity(), TParity::paNone);
    EXPECT_EQ(p.StopBits(), TStopBits::sb1);
    EXPECT_EQ(p.SyncMethod(), TSyncMethod::smThreadSync);
    EXPECT_EQ(p.Port(), "COM2");
    EXPECT_EQ(p.InBufSize(), 2048);
    EXPECT_EQ(p.OutBufSize(), 2048);
    EXPECT_EQ(p.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(p.Timeouts().ReadTotalMultiplier(), 0);
    EXPECT_EQ(p.Timeouts().ReadTotalConstant(), 0);
    EXPECT_EQ(p.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(p.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_FALSE(p.IsOpen());

    p.SetBaudRate(TBaudRate::br115200);
    p.SetInBufSize(4096);
    p.Timeouts().SetReadInterval(5);
    StoredSettings(p);
    EXPECT_TRUE(p.Close());
    EXPECT_EQ(r.Os->Calls, Calls{});
}

TEST(ComponentRecorded, OpenAppliesBuffersLineAndTimeoutsInOrder) {
    Recorded r;
    EXPECT_TRUE(r.Port->Open());
    // Then the event thread: its wait, and the mask of all eight events (EV_RXCHAR, EV_TXEMPTY,
    // EV_CTS, EV_DSR, EV_RLSD, EV_ERR, EV_RING, EV_RX80FULL).
    EXPECT_EQ(r.Os->CallsNow(),
              (Calls{"OpenDevice COM2", "SetupBuffers 2048 2048", "ApplyLineSettings",
                     "ApplyTimeouts", "CreateEventWait", "SetEventMask 1469"}));
    r.Os->Forget();
    EXPECT_TRUE(r.Port->Open()); // already open: nothing is re-applied
    EXPECT_EQ(r.Os->Calls, Calls{});
    // The initial ReadInterval of -1 reaches the system as all ones.
    EXPECT_EQ(r.Os->Timeouts.ReadInterval, 4294967295U);
    EXPECT_EQ(r.Os->Timeouts.WriteTotalMultiplier, 100U);
    EXPECT_EQ(r.Os->Timeouts.WriteTotalConstant, 1000U);
}

TEST(ComponentRecorded, LineSettingsRecord) {
    struct Case {
        TBaudRate Rate;
        TByteSize Size;
        TParity Parity;
        TStopBits Stop;
        std::uint32_t Bps, Flags;
        std::uint8_t Bits, ParityCode, StopCode;
    };
    const Case cases[] = {
        {TBaudRate::br9600, TByteSize::bs8, TParity::paNone, TStopBits::sb1, 9600, 4113, 8, 0, 0},
        {TBaudRate::br115200, TByteSize::bs7, TParity::paEven, TStopBits::sb2, 115200, 4115, 7, 2,
         2},
        {TBaudRate::br110, TByteSize::bs5, TParity::paOdd, TStopBits::sb1_5, 110, 4115, 5, 1, 1},
        {TBaudRate::br256000, TByteSize::bs6, TParity::paSpace, TStopBits::sb1, 256000, 4115, 6, 4,
         0},
        {TBaudRate::br14400, TByteSize::bs8, TParity::paMark, TStopBits::sb1, 14400, 4115, 8, 3, 0},
    };
    for (const Case& c : cases) {
        Recorded r;
        r.Port->SetBaudRate(c.Rate);
        r.Port->SetByteSize(c.Size);
        r.Port->SetParity(c.Parity);
        r.Port->SetStopBits(c.Stop);
        r.Port->Open();
        const TComLineSettings& line = r.Os->Line;
        EXPECT_EQ(line.BaudRate, c.Bps);
        EXPECT_EQ(line.Flags, c.Flags);
        EXPECT_EQ(line.ByteSize, c.Bits);
        EXPECT_EQ(line.Parity, c.ParityCode);
        EXPECT_EQ(line.StopBits, c.StopCode);
        EXPECT_EQ(line.XonChar, 17);
        EXPECT_EQ(line.XoffChar, 19);
    }
}

TEST(ComponentRecorded, RateTableHasFifteenRatesInOrder) {
    const std::uint32_t rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                   19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(BaudRateValue(static_cast<TBaudRate>(i)), rates[i]);
    }
}

TEST(ComponentRecorded, BufferSizesOddPositiveReducedByOne) {
    const std::pair<std::int32_t, std::int32_t> cases[] = {{2049, 2048}, {2047, 2046}, {2048, 2048},
                                                           {-3, -3},     {1, 0},       {0, 0}};
    for (const auto& [given, stored] : cases) {
        Recorded r;
        r.Port->SetInBufSize(given);
        r.Port->SetOutBufSize(given);
        EXPECT_EQ(r.Port->InBufSize(), stored) << given;
        EXPECT_EQ(r.Port->OutBufSize(), stored) << given;
    }
}

TEST(ComponentRecorded, SettersOnOpenPortApplyOnlyRealChanges) {
    struct Case {
        const char* Name;
        std::function<void(TBComPort&)> Same, Changed;
        const char* Applied;
    };
    const Case cases[] = {
        {"BaudRate", [](TBComPort& p) { p.SetBaudRate(TBaudRate::br9600); },
         [](TBComPort& p) { p.SetBaudRate(TBaudRate::br57600); }, "ApplyLineSettings"},
        {"ByteSize", [](TBComPort& p) { p.SetByteSize(TByteSize::bs8); },
         [](TBComPort& p) { p.SetByteSize(TByteSize::bs7); }, "ApplyLineSettings"},
        {"Parity", [](TBComPort& p) { p.SetParity(TParity::paNone); },
         [](TBComPort& p) { p.SetParity(TParity::paOdd); }, "ApplyLineSettings"},
        {"StopBits", [](TBComPort& p) { p.SetStopBits(TStopBits::sb1); },
         [](TBComPort& p) { p.SetStopBits(TStopBits::sb2); }, "ApplyLineSettings"},
        {"InBufSize", [](TBComPort& p) { p.SetInBufSize(2049); },
         [](TBComPort& p) { p.SetInBufSize(4096); }, "SetupBuffers 4096 2048"},
        {"OutBufSize", [](TBComPort& p) { p.SetOutBufSize(2048); },
         [](TBComPort& p) { p.SetOutBufSize(1023); }, "SetupBuffers 2048 1022"},
        {"ReadInterval", [](TBComPort& p) { p.Timeouts().SetReadInterval(-1); },
         [](TBComPort& p) { p.Timeouts().SetReadInterval(-7); }, "ApplyTimeouts"},
        {"ReadTotalMultiplier", [](TBComPort& p) { p.Timeouts().SetReadTotalMultiplier(0); },
         [](TBComPort& p) { p.Timeouts().SetReadTotalMultiplier(3); }, "ApplyTimeouts"},
        {"ReadTotalConstant", [](TBComPort& p) { p.Timeouts().SetReadTotalConstant(0); },
         [](TBComPort& p) { p.Timeouts().SetReadTotalConstant(3); }, "ApplyTimeouts"},
        {"WriteTotalMultiplier", [](TBComPort& p) { p.Timeouts().SetWriteTotalMultiplier(100); },
         [](TBComPort& p) { p.Timeouts().SetWriteTotalMultiplier(3); }, "ApplyTimeouts"},
        {"WriteTotalConstant", [](TBComPort& p) { p.Timeouts().SetWriteTotalConstant(1000); },
         [](TBComPort& p) { p.Timeouts().SetWriteTotalConstant(3); }, "ApplyTimeouts"},
        {"SyncMethod", [](TBComPort& p) { p.SetSyncMethod(TSyncMethod::smThreadSync); }, nullptr,
         nullptr},
    };
    for (const Case& c : cases) {
        Recorded r;
        r.Port->Open();
        r.Os->Forget();
        c.Same(*r.Port);
        EXPECT_EQ(r.Os->Calls, Calls{}) << c.Name;
        if (c.Changed) {
            c.Changed(*r.Port);
            EXPECT_EQ(r.Os->Calls, Calls{c.Applied}) << c.Name;
        }
    }
}

TEST(ComponentRecorded, NegativeTimeoutReachesSystemAsAllOnes) {
    Recorded r;
    r.Port->Open();
    r.Port->Timeouts().SetWriteTotalConstant(-5);
    r.Port->Timeouts().SetReadTotalMultiplier(-1);
    EXPECT_EQ(r.Os->Timeouts.WriteTotalConstant, 4294967291U);
    EXPECT_EQ(r.Os->Timeouts.ReadTotalMultiplier, 4294967295U);
}

TEST(ComponentRecorded, TimeoutsAsWholeCopyValuesAndApplyEvenWhenEqual) {
    Recorded r;
    r.Port->Open();
    StoredSettings(*r.Port);
    EXPECT_EQ(r.Port->Timeouts().ReadInterval(), 1);
    EXPECT_EQ(r.Os->Timeouts.ReadInterval, 1U);
    r.Os->Forget();
    StoredSettings(*r.Port);
    EXPECT_EQ(r.Os->Calls, Calls{"ApplyTimeouts"});
}

TEST(ComponentRecorded, PortAndSyncMethodLockedWhileOpen) {
    Recorded r;
    r.Port->SetPort("COM2"); // same value while closed: nothing
    r.Port->SetPort("ttyUSB0");
    r.Port->SetSyncMethod(TSyncMethod::smNone);
    EXPECT_EQ(r.Port->SyncMethod(), TSyncMethod::smNone);
    r.Port->Open();
    EXPECT_EQ(MessageOf([&] { r.Port->SetPort("ttyUSB0"); }), 14);
    EXPECT_EQ(MessageOf([&] { r.Port->SetPort("ttyUSB1"); }), 14);
    EXPECT_EQ(r.Port->Port(), "ttyUSB0");
    EXPECT_EQ(MessageOf([&] { r.Port->SetSyncMethod(TSyncMethod::smNone); }), 0);
    EXPECT_EQ(MessageOf([&] { r.Port->SetSyncMethod(TSyncMethod::smWindowSync); }), 14);
    EXPECT_EQ(r.Port->SyncMethod(), TSyncMethod::smNone);
}

TEST(ComponentRecorded, OpenFailuresLeaveComponentClosed) {
    const std::pair<TComOpenResult, int> cases[] = {
        {TComOpenResult::NotFound, 1}, {TComOpenResult::Denied, 2}, {TComOpenResult::Other, 10}};
    for (const auto& [result, message] : cases) {
        Recorded r;
        r.Os->OpenResult = result;
        EXPECT_EQ(MessageOf([&] { r.Port->Open(); }), message);
        EXPECT_FALSE(r.Port->IsOpen());
        r.Os->Forget();
        EXPECT_TRUE(r.Port->Close());
        EXPECT_EQ(r.Os->Calls, Calls{}) << message;
    }
}

TEST(ComponentRecorded, EmptyPortNameIsAPortThatDoesNotExist) {
    Recorded r;
    r.Port->SetPort("");
    EXPECT_EQ(MessageOf([&] { r.Port->Open(); }), 1);
    EXPECT_FALSE(r.Port->IsOpen());
    EXPECT_EQ(r.Os->Calls, Calls{});
}

TEST(ComponentRecorded, FailedSettingsStepClosesDeviceAgain) {
    const Calls all = {"OpenDevice COM2", "SetupBuffers 2048 2048", "ApplyLineSettings",
                       "ApplyTimeouts"};
    const std::pair<const char*, int> cases[] = {
        {"SetupBuffers", 10}, {"ApplyLineSettings", 8}, {"ApplyTimeouts", 9}};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& [step, message] = cases[i];
        Recorded r;
        r.Os->Failing = {step};
        EXPECT_EQ(MessageOf([&] { r.Port->Open(); }), message) << step;
        EXPECT_FALSE(r.Port->IsOpen());
        EXPECT_FALSE(r.Os->DeviceOpen);
        // The sequence stops at the failing step and the device is closed at once.
        Calls expected(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        expected.push_back("CloseDevice");
        EXPECT_EQ(r.Os->Calls, expected) << step;
    }
}

TEST(ComponentRecorded, FailedLiveChangeKeepsValueAndPortOpen) {
    Recorded r;
    r.Port->Open();
    r.Os->Failing = {"ApplyLineSettings"};
    EXPECT_EQ(MessageOf([&] { r.Port->SetBaudRate(TBaudRate::br57600); }), 8);
    EXPECT_EQ(r.Port->BaudRate(), TBaudRate::br57600);
    EXPECT_TRUE(r.Port->IsOpen());
    EXPECT_TRUE(r.Os->DeviceOpen);
}

TEST(ComponentRecorded, CloseDropsDtrAndRtsBeforeClosingDevice) {
    Recorded r;
    r.Port->Open();
    r.Os->Forget();
    EXPECT_TRUE(r.Port->Close());
    EXPECT_EQ(r.Os->Calls, (Calls{"Escape 6", "Escape 4", "Purge", "SetEventMask 0",
                                  "DiscardQueues", "CloseDevice"}));
    EXPECT_FALSE(r.Port->IsOpen());
}

TEST(ComponentRecorded, CloseFailureLeavesPortOpenAndRetryStartsOver) {
    const std::pair<const char*, int> cases[] = {{"Escape", 13}, {"Purge", 6}};
    for (const auto& [step, message] : cases) {
        Recorded r;
        r.Port->Open();
        r.Os->Failing = {step};
        EXPECT_EQ(MessageOf([&] { r.Port->Close(); }), message) << step;
        EXPECT_TRUE(r.Port->IsOpen());
        EXPECT_TRUE(r.Os->DeviceOpen);
        r.Os->Failing.clear();
        r.Os->Forget();
        EXPECT_TRUE(r.Port->Close());
        EXPECT_EQ(r.Os->Calls, (Calls{"Escape 6", "Escape 4", "Purge", "SetEventMask 0",
                                      "DiscardQueues", "CloseDevice"}));
    }
}

TEST(ComponentRecorded, SwitchesUseEscapeCodes) {
    Recorded r;
    r.Port->Open();
    r.Os->Forget();
    r.Port->SwitchDTR(true);
    r.Port->SwitchRTS(true);
    r.Port->SwitchDTR(false);
    r.Port->SwitchRTS(false);
    EXPECT_EQ(r.Os->Calls, (Calls{"Escape 5", "Escape 3", "Escape 6", "Escape 4"}));
}

TEST(ComponentRecorded, ShortWriteRaisesThree) {
    Recorded r;
    r.Port->Open();
    r.Os->WriteLimit = 3;
    EXPECT_EQ(MessageOf([&] { r.Port->SendString("g0101;"); }), 3);
    EXPECT_TRUE(r.Port->IsOpen());
    r.Os->WriteLimit = 100;
    r.Os->Failing = {"Write"};
    EXPECT_EQ(MessageOf([&] { r.Port->SendString("g0101;"); }), 3);
}

TEST(ComponentRecorded, WriteBudgetCoversTheLineTime) {
    Recorded r;
    StoredSettings(*r.Port);
    r.Port->Open();
    EXPECT_EQ(r.Port->SendString(std::string(136, 'A')), 136);
    // 137 ms configured, plus twice 136 bytes at 9600 bit/s (141.7 ms each), plus 50 ms.
    ASSERT_TRUE(r.Os->WriteBudget.has_value());
    EXPECT_EQ(*r.Os->WriteBudget, 137000000ULL + 2 * 141666667ULL + 50000000ULL);
    r.Port->Timeouts().SetWriteTotalMultiplier(0);
    r.Port->Timeouts().SetWriteTotalConstant(0);
    r.Port->SendString("x");
    EXPECT_FALSE(r.Os->WriteBudget.has_value());
}

TEST(ComponentRecorded, ReadFailureRaisesFourAndStatusQueriesMap) {
    Recorded r;
    r.Port->Open();
    r.Os->Incoming = "abc";
    EXPECT_EQ(r.Port->InQueueCount(), 3);
    r.Os->Modem = 16 | 128; // CTS and RLSD
    EXPECT_EQ(r.Port->ReadModemLines(), 0x09);
    r.Os->Modem = 32 | 64; // DSR and RING
    EXPECT_EQ(r.Port->ReadModemLines(), 0x06);
    std::string text = "old";
    r.Os->Failing = {"Read", "InQueueCount", "ModemStatus"};
    EXPECT_EQ(MessageOf([&] { r.Port->ReceiveString(text, 5); }), 4);
    EXPECT_EQ(MessageOf([&] { r.Port->InQueueCount(); }), 11);
    EXPECT_EQ(MessageOf([&] { r.Port->ReadModemLines(); }), 12);
}

TEST(ComponentRecorded, ClosedPortTransfers) {
    Recorded r;
    std::string text = "old";
    EXPECT_EQ(r.Port->SendString(""), 0);
    EXPECT_EQ(r.Port->ReceiveString(text, 0), 0);
    EXPECT_EQ(text, "");
    text = "old";
    EXPECT_EQ(r.Port->ReceiveString(text, -4), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(MessageOf([&] { r.Port->SendString("g"); }), 3);
    EXPECT_EQ(MessageOf([&] { r.Port->ReceiveString(text, 1); }), 4);
    EXPECT_EQ(r.Os->Calls, Calls{});
}

TEST(ComponentRecorded, DestructionClosesThePort) {
    auto layer = std::make_unique<RecordingComOs>();
    RecordingComOs* os = layer.get();
    Calls seen;
    os->CallsAtEnd = &seen;
    {
        TBComPort port(std::move(layer));
        port.Open();
        os->Forget();
    }
    EXPECT_EQ(seen, (Calls{"Escape 6", "Escape 4", "Purge", "SetEventMask 0", "DiscardQueues",
                           "CloseDevice"}));
}

} // namespace
