// The Windows layer without a device behind the port: open errors, the registry port list,
// the sound and clock files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "BCPort.h"
#include "Clock.h"
#include "ComTestHelpers.h"
#include "PortList.h"
#include "Sound.h"
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

} // namespace
