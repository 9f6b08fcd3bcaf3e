// Who holds a port: a child process of the test holds a pseudo-terminal the way a terminal
// program or a second flasher would, and the component must name it or step aside.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "BCPort.h"
#include "ComLowLatency.h"
#include "ComTestHelpers.h"
#include "PortHolderChild.h"
#include "PortHoldersLinux.h"
#include "PtyPair.h"

namespace fs = std::filesystem;

namespace {

std::string Basename(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

std::string ThisUser() {
    return CurrentPortUser().Name.empty() ? std::to_string(::getuid()) : CurrentPortUser().Name;
}

TEST(PortHolders, AProcessWithThePortOpenIsNamedWithItsIdAndUser) {
    PtyPair pty;
    const HolderChild child(pty.SlavePath, "tv6-holder", THold::Open);
    const auto holders = FindPortHolders(pty.SlavePath, TPortHoldScan::Everything, TPortPlaces{});
    ASSERT_EQ(holders.size(), 1U);
    EXPECT_EQ(holders[0].Pid, child.Pid);
    EXPECT_EQ(holders[0].Program, "tv6-holder");
    EXPECT_EQ(holders[0].User, ThisUser());
    EXPECT_EQ(HoldersText(holders), "Порт тримає: tv6-holder (процес " + std::to_string(child.Pid) +
                                        ", користувач " + ThisUser() + ")");
    // An open file alone is no lock.
    EXPECT_TRUE(FindPortHolders(pty.SlavePath, TPortHoldScan::Locks, TPortPlaces{}).empty());
    // The test process has the pty open itself, and is left out unless asked for.
    EXPECT_EQ(FindPortHolders(pty.SlavePath, TPortHoldScan::Everything, TPortPlaces{}, 0).size(),
              2U);
}

TEST(PortHolders, NoHolderKnownSaysTheUserCannotSeeIt) {
    EXPECT_EQ(HoldersText({}), "Порт тримає процес, якого цей користувач не бачить.");
}

// The component on a pseudo-terminal held by another process.  A lock folder of the test's
// own stands for /run/lock.
class HeldPty : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/bcport-holders-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        LockDir = pattern;
        Places.LockDirs = {LockDir.string()};
        Port = std::make_unique<TBComPort>(CreatePosixComOs(SystemSerialIoctl, Places));
        Port->SetPort(Pty.SlavePath);
        SetTimeouts(*Port, 1, 1, 1, 1, 1);
    }
    void TearDown() override { fs::remove_all(LockDir); }

    // Opens the port expecting message 2 and returns what the message says beside it.
    std::string Refusal() {
        try {
            Port->Open();
        } catch (const EComPort& e) {
            EXPECT_EQ(e.Number(), 2);
            EXPECT_STREQ(e.what(), "Порт зайнятий іншою програмою");
            EXPECT_FALSE(Port->IsOpen());
            return e.Detail();
        }
        ADD_FAILURE() << "the port opened";
        return {};
    }

    PtyPair Pty;
    fs::path LockDir;
    TPortPlaces Places;
    std::unique_ptr<TBComPort> Port;
};

TEST_F(HeldPty, ThePseudoTerminalsMakerKeepingItOpenIsNoRefusal) {
    const HolderChild simulator(Pty.SlavePath, "tv6-sim", THold::Open);
    EXPECT_TRUE(Port->Open());
    EXPECT_TRUE(Port->Close());
}

TEST_F(HeldPty, ALiveLockFileRefusesWithItsOwnerAndNothingIsSent) {
    const HolderChild terminal(Pty.SlavePath, "tv6-minicom", THold::Open);
    const fs::path lock = LockDir / ("LCK.." + Basename(Pty.SlavePath));
    std::ofstream(lock) << "     " << terminal.Pid << "\n";
    EXPECT_EQ(Refusal(), "Порт тримає: tv6-minicom (процес " + std::to_string(terminal.Pid) +
                             ", користувач " + ThisUser() + ", файл блокування " + lock.string() +
                             ")");
    EXPECT_EQ(Pty.Take(1, std::chrono::milliseconds(50)), ""); // nothing reached the line

    // A lock whose process has ended is stale and keeps nobody out.
    std::ofstream(lock) << "  999999999\n";
    EXPECT_TRUE(Port->Open());
}

// Lock files planted as traps: a FIFO without a writer, a link to an endless device.  The
// port opens at once, as for any stale lock.
TEST_F(HeldPty, LockFilesPlantedAsTrapsNeitherHangNorRefuse) {
    const fs::path lock = LockDir / ("LCK.." + Basename(Pty.SlavePath));
    const std::function<void()> traps[] = {
        [&] { ASSERT_EQ(::mkfifo(lock.c_str(), 0644), 0); },
        [&] { fs::create_symlink("/dev/zero", lock); },
    };
    for (const auto& plant : traps) {
        fs::remove(lock);
        plant();
        EXPECT_TRUE(Port->Open());
        EXPECT_TRUE(Port->Close());
    }
}

TEST_F(HeldPty, AnotherFlashersLockNamesThatFlasher) {
    const HolderChild flasher(Pty.SlavePath, "tv6-flash", THold::Flock);
    const std::string detail = Refusal();
    EXPECT_EQ(detail, "Порт тримає: tv6-flash (процес " + std::to_string(flasher.Pid) +
                          ", користувач " + ThisUser() + ")");
}

TEST_F(HeldPty, ASecondPortOfThisProgramOnTheSameDeviceNamesThisProgram) {
    TBComPort first;
    first.SetPort(Pty.SlavePath);
    ASSERT_TRUE(first.Open());
    const std::string detail = Refusal();
    EXPECT_NE(detail.find("(процес " + std::to_string(::getpid())), std::string::npos) << detail;
}

} // namespace
