// The Windows layer without a device behind the port: open errors, the registry port list,
// the sound and clock files.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "BCPort.h"
#include "Clock.h"
#include "ComTestHelpers.h"
#include "PortInfo.h"
#include "PortList.h"
#include "Sound.h"
#include "SoundWindows.h"
#include "WinDeviceKeys.h"
#include "WinTestPort.h"

namespace {

TEST(WinOpen, NamesThatDoNotExistGiveMessageOne) {
    for (const char* name : {"COM99", "NOSUCHPORT", ""}) {
        TBComPort port;
        port.SetPort(name);
        EXPECT_EQ(MessageOf([&] { port.Open(); }), 1) << '"' << name << '"';
        EXPECT_FALSE(port.IsOpen());
        EXPECT_TRUE(port.Close());
    }
}

TEST(WinOpen, TransfersOnAClosedPortRaiseTheirMessages) {
    TBComPort port;
    std::string text = "left";
    EXPECT_EQ(MessageOf([&] { port.SendString("g0202;"); }), 3);
    EXPECT_EQ(MessageOf([&] { port.ReceiveString(text, 4); }), 4);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(port.SendString(""), 0);
}

TEST(WinPortList, FindsTheMappedPortAndReplacesTheList) {
    std::vector<std::string> list = {"stale"};
    ListSerialPorts(list);
    EXPECT_NE(std::find(list.begin(), list.end(), WinTestPort()), list.end());
    EXPECT_EQ(std::find(list.begin(), list.end(), "stale"), list.end());
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end(), [](const auto& a, const auto& b) {
        return _stricmp(a.c_str(), b.c_str()) < 0;
    }));
    for (const std::string& name : list) {
        EXPECT_EQ(name.find('\0'), std::string::npos);
        EXPECT_FALSE(name.empty());
    }
}

// Extra values in the system's own key: text order ignoring case, equal names kept.  Needs
// the right to write HKLM (Wine gives it; on Windows only an administrator has it).
TEST(WinPortList, SortsAsTextIgnoringCaseAndKeepsEqualNames) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                        KEY_READ | KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        GTEST_SKIP() << "no right to change the port list";
    }
    const std::vector<std::pair<std::string, std::string>> values = {{"\\Device\\TestA", "COM30"},
                                                                     {"\\Device\\TestB", "com3"},
                                                                     {"\\Device\\TestC", "COM300"},
                                                                     {"\\Device\\TestD", "COM30"}};
    for (const auto& [name, data] : values) {
        ::RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                         static_cast<DWORD>(data.size() + 1));
    }
    std::vector<std::string> list;
    ListSerialPorts(list);
    for (const auto& value : values) {
        ::RegDeleteValueA(key, value.first.c_str());
    }
    ::RegCloseKey(key);

    std::vector<std::string> ours;
    for (const std::string& name : list) {
        if (name == "com3" || name.rfind("COM30", 0) == 0) {
            ours.push_back(name);
        }
    }
    EXPECT_EQ(ours, (std::vector<std::string>{"com3", "COM30", "COM30", "COM300"}));
}

// The FTDI driver keeps the adapter's latency timer in the device's registry key; the test
// writes one for COM7 as the driver would, reads the port's facts, and removes it.
TEST(WinPortInfo, AnFtdiLatencyTimerFromTheDevicesRegistryKey) {
    const char* const device =
        "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+TVX0001A";
    for (const DWORD timer : {16u, 1u}) {
        ASSERT_TRUE(
            WriteDeviceParameters("FTDIBUS\\VID_0403+PID_6001+TVX0001A\\0000", "COM7", timer));

        const TSerialPortInfo info = DescribeSerialPort("COM7");
        EXPECT_EQ(info.LatencyTimerMs, static_cast<int>(timer));
        EXPECT_EQ(DescribeSerialPort("COM8").LatencyTimerMs, -1); // no FTDI key names it
        const std::string advice = LatencyAdvice(info);
        if (timer > 1) {
            EXPECT_NE(advice.find("до 50 с"), std::string::npos) << advice;
            EXPECT_NE(advice.find("Диспетчер пристроїв"), std::string::npos) << advice;
        } else {
            EXPECT_EQ(advice, "");
        }
    }
    EXPECT_EQ(::RegDeleteTreeA(HKEY_LOCAL_MACHINE, device), ERROR_SUCCESS);
    EXPECT_EQ(DescribeSerialPort("COM7").LatencyTimerMs, -1);
}

// What names an adapter for tarvex6-flash --station usb-serial:NUMBER: the serial number from
// an FTDI adapter's FTDIBUS key (without the driver's port letter) and from another USB
// serial device's Enum\USB key, whose instance is the number (a made-up one holds '&').
TEST(WinPortInfo, AUsbAdaptersSerialNumberFromItsDevicesRegistryKey) {
    struct TCase {
        const char* Device; // below HKLM\SYSTEM\CurrentControlSet\Enum
        const char* Instance;
        const char* Port;
        const char* SerialNumber;
        const char* VendorId;
    } cases[] = {
        {"FTDIBUS\\VID_0403+PID_6001+TVX0003A", "0000", "COM11", "TVX0003", "0403"},
        {"USB\\VID_04D8&PID_000A", "TVX0004", "COM12", "TVX0004", "04d8"},
        {"USB\\VID_04D8&PID_000B", "6&2B3C4D5E&0&1", "COM13", "", "04d8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Port);
        const std::string device = std::string("SYSTEM\\CurrentControlSet\\Enum\\") + c.Device;
        ASSERT_TRUE(WriteDeviceParameters(std::string(c.Device) + "\\" + c.Instance, c.Port));
        const TSerialPortInfo info = DescribeSerialPort(c.Port);
        EXPECT_EQ(info.SerialNumber, c.SerialNumber);
        EXPECT_EQ(info.VendorId, c.VendorId);
        EXPECT_EQ(::RegDeleteTreeA(HKEY_LOCAL_MACHINE, device.c_str()), ERROR_SUCCESS);
        EXPECT_EQ(DescribeSerialPort(c.Port).SerialNumber, "");
    }
}

TEST(WinPlatform, ClockMovesForwardAndBeepTakesItsTime) {
    const std::int64_t before = Platform::CoarseMilliseconds();
    const auto start = std::chrono::steady_clock::now();
    Platform::Beep(30, 60); // below Beep's range: plays nothing, still takes the time
    Platform::MessageBeep(64);
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_GE(spent, std::chrono::milliseconds(55));
    EXPECT_LT(spent, std::chrono::seconds(5));
    EXPECT_GE(Platform::CoarseMilliseconds() - before, 40);
}

// Tones through a Beep of the test's own: one that plays the whole tone (as a sound device
// does), and one that returns at once (as without a device).
std::vector<double> ToneWaits;

void RecordedWait(double milliseconds) {
    ToneWaits.push_back(milliseconds);
    Platform::WaitPrecisely(milliseconds);
}

BOOL WINAPI FullLengthBeep(DWORD, DWORD milliseconds) {
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    const LONGLONG length = frequency.QuadPart * milliseconds / 1000 + 1;
    do {
        ::Sleep(1);
        ::QueryPerformanceCounter(&now);
    } while (now.QuadPart - start.QuadPart < length);
    return TRUE;
}

BOOL WINAPI SilentBeep(DWORD, DWORD) {
    return FALSE;
}

TEST(WinTone, ATopUpFollowsOnlyABeepThatReturnedEarly) {
    ToneWaits.clear();
    for (int i = 0; i < 10; ++i) {
        Platform::PlayTone(1200, 40, FullLengthBeep, RecordedWait);
    }
    EXPECT_TRUE(ToneWaits.empty()) << ToneWaits.size() << " top-ups, the first "
                                   << (ToneWaits.empty() ? 0.0 : ToneWaits[0]) << " ms";

    // The failure tones without a sound device: each is waited for in full, and the three
    // last their 600 ms, not some ticks more.
    ToneWaits.clear();
    const auto start = std::chrono::steady_clock::now();
    for (unsigned frequency : {1200u, 800u, 500u}) {
        Platform::PlayTone(frequency, 200, SilentBeep, RecordedWait);
    }
    const auto spent = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(ToneWaits.size(), 3u);
    for (double wait : ToneWaits) {
        EXPECT_GT(wait, 190.0);
        EXPECT_LE(wait, 200.0);
    }
    EXPECT_GE(spent, std::chrono::milliseconds(600));
    EXPECT_LT(spent, std::chrono::milliseconds(680));
    std::printf("three 200 ms tones without a device: %.1f ms\n",
                std::chrono::duration<double, std::milli>(spent).count());
}

} // namespace
