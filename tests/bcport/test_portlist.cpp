// ListSerialPorts over a made-up /sys/class/tty and /dev in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "ComMessages.h"
#include "PortListLinux.h"
#include "PtyPair.h"

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

class FakeTree : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/bcport-ports-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        Root = pattern;
        Sys = Root / "sys";
        Dev = Root / "dev";
        fs::create_directories(Sys);
        fs::create_directories(Dev);
    }
    void TearDown() override { fs::remove_all(Root); }

    // A tty entry; with a device behind it unless `device` is false; `type` written when set.
    void Tty(const std::string& name, bool device = true, const char* type = nullptr) const {
        fs::create_directories(Sys / name);
        if (device) {
            fs::create_directory_symlink("../../devices/fake", Sys / name / "device");
        }
        if (type != nullptr) {
            std::ofstream(Sys / name / "type") << type << "\n";
        }
    }

    Names List(Names start = {}) const {
        ListSerialPortsIn(start, Sys.string(), Dev.string());
        return start;
    }

    fs::path Root, Sys, Dev;
};

TEST_F(FakeTree, DevicesSortedAsTextIgnoringCase) {
    for (const char* name : {"COM3", "COM1", "COM10", "com2"}) {
        Tty(name);
    }
    EXPECT_EQ(List(), (Names{"COM1", "COM10", "com2", "COM3"}));
}

TEST_F(FakeTree, OnlyEntriesWithARealDevice) {
    Tty("ttyUSB0");
    Tty("ttyACM0");
    Tty("ttyS0", true, "4"); // a 16550A
    Tty("ttyS1", true, "0"); // a slot with no UART
    Tty("ttyS2", true, "garbage");
    Tty("tty", false);
    Tty("ptmx", false);
    EXPECT_EQ(List(), (Names{"ttyACM0", "ttyS0", "ttyS2", "ttyUSB0"}));
}

TEST_F(FakeTree, PseudoTerminalLinksInDevAreListed) {
    PtyPair live;
    Tty("ttyUSB0");
    fs::create_symlink(live.SlavePath, Dev / "ttyTARVEXSIM0");
    fs::create_symlink("/dev/pts/987654", Dev / "ttyGone");             // stale
    fs::create_symlink("/proc/self/fd/0", Dev / "stdin");               // not written as a pty
    fs::create_symlink(live.SlavePath + "/../ptmx", Dev / "ttyTricky"); // not /dev/pts/N
    std::ofstream(Dev / "plainfile") << "x";
    fs::create_directory(Dev / "pts");
    EXPECT_EQ(List(), (Names{"ttyTARVEXSIM0", "ttyUSB0"}));
}

TEST_F(FakeTree, DuplicatesKept) {
    PtyPair live;
    Tty("ttyV0");
    fs::create_symlink(live.SlavePath, Dev / "ttyV0");
    EXPECT_EQ(List(), (Names{"ttyV0", "ttyV0"}));
}

TEST_F(FakeTree, CallersListReplacedWholeAndEmptyIsNoError) {
    EXPECT_EQ(List({"COM7", "COM8"}), Names{});
    Tty("ttyUSB3");
    EXPECT_EQ(List({"COM7"}), Names{"ttyUSB3"});
}

TEST_F(FakeTree, UnreadableListRaisesFifteenAndKeepsCallersList) {
    Names list = {"COM7"};
    int message = 0;
    try {
        ListSerialPortsIn(list, (Root / "no-sys").string(), Dev.string());
    } catch (const EComPort& e) {
        message = e.Number();
    }
    EXPECT_EQ(message, 15);
    EXPECT_EQ(list, Names{"COM7"});
}

TEST(PortNames, SortIgnoresCaseAndKeepsEqualNamesInOrder) {
    Names names = {"ttyUSB1", "COM2", "Com1", "ttyusb0", "com1", "COM10"};
    SortPortNames(names);
    EXPECT_EQ(names, (Names{"Com1", "com1", "COM10", "COM2", "ttyusb0", "ttyUSB1"}));
}

} // namespace
