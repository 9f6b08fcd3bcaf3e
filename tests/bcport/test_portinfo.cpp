// Port facts and access verdicts over a made-up sysfs, /dev and /dev/serial/by-id.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <tuple>

#include "PortHoldersLinux.h"
#include "PortInfo.h"
#include "PortListLinux.h"
#include "PtyPair.h"

namespace fs = std::filesystem;

namespace {

class PortTree : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/bcport-info-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        Root = pattern;
        Places = TPortPlaces::UnderRoot(Root.string());
        fs::create_directories(Places.SysClassTty);
        fs::create_directories(Places.ById);
        Devices = Root / "sys/devices";
        Drivers = Root / "sys/bus/drivers";

        // An FTDI adapter: tty port below the USB interface below the USB device.
        const fs::path ftdi = Devices / "pci0000:00/usb1/1-1";
        UsbDevice(ftdi, "0403", "6001", "FTDI", "FT232R USB UART", "A12345");
        Write(ftdi / "1-1:1.0/bInterfaceNumber", "00");
        Tty("ttyUSB0", ftdi / "1-1:1.0/ttyUSB0", "ftdi_sio");
        Write(fs::path(Places.SysClassTty) / "ttyUSB0/dev", "188:0");
        fs::create_symlink("../../ttyUSB0",
                           fs::path(Places.ById) / "usb-FTDI_FT232R_USB_UART_A12345-if00-port0");
        Node("ttyUSB0", 0660);

        // A CDC ACM instrument: the tty's device is the interface itself.
        const fs::path acm = Devices / "pci0000:00/usb1/1-2";
        UsbDevice(acm, "04d8", "000a", "Microchip Technology Inc.",
                  "Microchip Technology Inc. CDC RS-232", "");
        Write(acm / "1-2:1.0/bInterfaceNumber", "00");
        Write(acm / "1-2:1.0/interface", "CDC Abstract Control Model");
        Tty("ttyACM0", acm / "1-2:1.0", "cdc_acm");
        Node("ttyACM0", 0666);

        // A motherboard UART whose /dev node is missing.
        Tty("ttyS0", Devices / "platform/serial8250", "serial8250");
        Write(fs::path(Places.SysClassTty) / "ttyS0/type", "4");
    }
    void TearDown() override { fs::remove_all(Root); }

    static void Write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }
    static void UsbDevice(const fs::path& folder, const char* vendor, const char* product,
                          const char* maker, const char* name, const char* serial) {
        Write(folder / "idVendor", vendor);
        Write(folder / "idProduct", product);
        Write(folder / "manufacturer", maker);
        Write(folder / "product", name);
        if (*serial != '\0') {
            Write(folder / "serial", serial);
        }
    }
    void Tty(const std::string& name, const fs::path& device, const std::string& driver) const {
        fs::create_directories(device);
        fs::create_directories(Drivers / driver);
        fs::create_directory_symlink(Drivers / driver, device / "driver");
        const fs::path entry = fs::path(Places.SysClassTty) / name;
        fs::create_directories(entry);
        fs::create_directory_symlink(device, entry / "device");
    }
    void Node(const std::string& name, int mode) const {
        const fs::path node = fs::path(Places.DevDir) / name;
        std::ofstream(node) << "";
        fs::permissions(node, static_cast<fs::perms>(mode));
    }
    // A made-up user judged by the mode bits; the test's own files belong to its group.
    static TPortUser User(std::vector<gid_t> session, std::vector<gid_t> account) {
        TPortUser user;
        user.Uid = 4242;
        user.Name = "technik";
        user.SessionGroups = std::move(session);
        user.AccountGroups = std::move(account);
        user.UseAccessCall = false;
        return user;
    }
    TSerialPortInfo Describe(const std::string& name, const TPortUser& user) const {
        return DescribeSerialPort(name, Places, user);
    }

    fs::path Root, Devices, Drivers;
    TPortPlaces Places;
};

TEST_F(PortTree, UsbSerialAdapterFacts) {
    const TSerialPortInfo info = Describe("ttyUSB0", User({}, {}));
    EXPECT_EQ(info.DevicePath, Places.DevDir + "/ttyUSB0");
    EXPECT_EQ(info.Driver, "ftdi_sio");
    EXPECT_EQ(info.Manufacturer, "FTDI");
    EXPECT_EQ(info.Product, "FT232R USB UART");
    EXPECT_EQ(info.SerialNumber, "A12345");
    EXPECT_EQ(info.VendorId + ":" + info.ProductId, "0403:6001");
    EXPECT_EQ(info.ById, std::vector<std::string>{"usb-FTDI_FT232R_USB_UART_A12345-if00-port0"});
    EXPECT_EQ(info.Mode, "-rw-rw----");
    EXPECT_EQ(PortSummary(info),
              "драйвер ftdi_sio, FTDI FT232R USB UART (USB 0403:6001), серійний номер A12345");
    EXPECT_EQ(info.LatencyTimerMs, -1); // this tree gives the adapter no latency timer
    EXPECT_EQ(LatencyAdvice(info), "");
}

TEST_F(PortTree, AnFtdiLatencyTimerAboveOneMillisecondComesWithItsCostAndTheFix) {
    const fs::path device = fs::path(Places.SysClassTty) / "ttyUSB0/device";
    for (const auto& [written, ms, advised] :
         {std::tuple{"16", 16, true}, {"1", 1, false}, {"garbage", -1, false}}) {
        Write(device / "latency_timer", written);
        const TSerialPortInfo info = Describe("ttyUSB0", User({}, {}));
        EXPECT_EQ(info.LatencyTimerMs, ms) << written;
        const std::string advice = LatencyAdvice(info);
        EXPECT_EQ(!advice.empty(), advised) << written;
        if (advised) {
            EXPECT_NE(PortSummary(info).find("таймер затримки 16 мс"), std::string::npos);
            // Open's low-latency request runs ftdi_sio's timer at 1 ms: that is what the
            // write meets, and the 16 ms cost only where the driver refuses.
            EXPECT_TRUE(info.LowLatencyAtOpen);
            EXPECT_NE(advice.find("таймер працює з 1 мс"), std::string::npos) << advice;
            EXPECT_NE(advice.find("не дозволить, запис 64 КБ може тривати до 50 с"),
                      std::string::npos)
                << advice; // 3,072 x 16 ms
            EXPECT_NE(advice.find("ATTR{latency_timer}=\"1\""), std::string::npos) << advice;
        }
    }
}

TEST(LatencyAdvice, ATimerTheDriverKeepsIsWhatTheWriteMeets) {
    TSerialPortInfo info;
    info.LatencyTimerMs = 16;
    const std::string advice = LatencyAdvice(info);
    EXPECT_EQ(
        advice.rfind("Таймер затримки адаптера 16 мс може подовжити запис 64 КБ до 50 с. ", 0), 0u)
        << advice;
    EXPECT_EQ(advice.find("1 мс."), std::string::npos) << advice;
}

TEST_F(PortTree, CdcInterfaceAndOnboardUartFacts) {
    const TSerialPortInfo acm = Describe("ttyACM0", User({}, {}));
    EXPECT_EQ(acm.Driver, "cdc_acm");
    EXPECT_EQ(acm.Interface, "CDC Abstract Control Model");
    EXPECT_EQ(acm.SerialNumber, "");
    EXPECT_TRUE(acm.ById.empty());
    EXPECT_EQ(acm.Access, TPortAccess::Allowed); // 0666
    // The maker's name is not repeated when the product already starts with it.
    EXPECT_EQ(PortSummary(acm),
              "драйвер cdc_acm, Microchip Technology Inc. CDC RS-232 (USB 04d8:000a)");

    const TSerialPortInfo uart = Describe("ttyS0", User({}, {}));
    EXPECT_EQ(uart.Driver, "serial8250");
    EXPECT_EQ(uart.VendorId, "");
    EXPECT_EQ(uart.Access, TPortAccess::NoDeviceNode);
    EXPECT_EQ(PortSummary(uart), "драйвер serial8250");
    EXPECT_NE(AccessReason(uart, User({}, {})).find(uart.DevicePath), std::string::npos);
}

TEST_F(PortTree, PseudoTerminalLink) {
    PtyPair live;
    fs::create_symlink(live.SlavePath, fs::path(Places.DevDir) / "TARVEX6-SIM");
    const TSerialPortInfo info = Describe("TARVEX6-SIM", User({}, {}));
    EXPECT_EQ(info.Driver, "pseudo-terminal");
    EXPECT_EQ(info.LinkTarget, live.SlavePath);
    EXPECT_EQ(PortSummary(info), "псевдотермінал " + live.SlavePath);
    EXPECT_EQ(info.Mode.substr(0, 1), "c");

    // Another user is pointed at the pseudo-terminal's owner, not at groups or udev.
    const TPortUser stranger = User({}, {});
    const TSerialPortInfo denied = Describe("TARVEX6-SIM", stranger);
    ASSERT_NE(denied.Access, TPortAccess::Allowed); // a pty is its owner's alone
    EXPECT_NE(AccessFix(denied, stranger).find("псевдотермінал"), std::string::npos);
}

TEST_F(PortTree, AccessVerdictsFromGroupsAndMode) {
    const gid_t group = [this] {
        struct stat st {};
        ::stat((Places.DevDir + "/ttyUSB0").c_str(), &st);
        return st.st_gid;
    }();
    struct Case {
        int Mode;
        std::vector<gid_t> Session, Account;
        TPortAccess Expected;
        const char* FixHas; // a piece of the advice, "" when none is expected
    };
    const Case cases[] = {
        {0660, {}, {}, TPortAccess::NotInGroup, "sudo usermod -aG "},
        {0660, {}, {group}, TPortAccess::GroupNotInSession, "увійдіть знову"},
        {0660, {group}, {group}, TPortAccess::Allowed, ""},
        {0600, {group}, {group}, TPortAccess::OwnerOnly, "MODE=\"0660\""},
        {0666, {}, {}, TPortAccess::Allowed, ""},
        {0640, {group}, {group}, TPortAccess::OwnerOnly, "адміністратора"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Mode);
        Node("ttyUSB0", c.Mode);
        const TPortUser user = User(c.Session, c.Account);
        const TSerialPortInfo info = Describe("ttyUSB0", user);
        EXPECT_EQ(info.Access, c.Expected);
        EXPECT_NE(AccessFix(info, user).find(c.FixHas), std::string::npos);
        EXPECT_EQ(AccessReason(info, user).empty(), c.Expected == TPortAccess::Allowed);
        EXPECT_EQ(AccessFix(info, user).empty(), c.Expected == TPortAccess::Allowed);
    }
}

TEST_F(PortTree, NotInGroupNamesTheGroupTheUserAndTheNewLogin) {
    const TPortUser user = User({}, {});
    const TSerialPortInfo info = Describe("ttyUSB0", user);
    ASSERT_EQ(info.Access, TPortAccess::NotInGroup);
    ASSERT_FALSE(info.Group.empty());
    EXPECT_EQ(AccessReason(info, user), "Пристрій належить групі " + info.Group +
                                            " (-rw-rw----), а користувач technik до неї не "
                                            "входить.");
    EXPECT_EQ(AccessFix(info, user), "Додайте користувача до групи: sudo usermod -aG " +
                                         info.Group +
                                         " technik, потім вийдіть із системи й увійдіть знову.");
}

TEST_F(PortTree, EveryListedPortDescribedInListOrder) {
    std::vector<std::string> names;
    ListSerialPortsIn(names, Places.SysClassTty, Places.DevDir);
    const auto ports = DescribeSerialPorts(Places, User({}, {}));
    ASSERT_EQ(ports.size(), names.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(ports[i].Name, names[i]);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyUSB0"}));
}

TEST(PortUser, TheRunningUserMayOpenWhatTheSystemAllows) {
    const TPortUser user = CurrentPortUser();
    EXPECT_EQ(user.Uid, ::getuid());
    EXPECT_TRUE(user.UseAccessCall);
    PtyPair pty; // a pty slave is the caller's own
    TPortPlaces places;
    places.DevDir = "/dev/pts";
    const std::string number = pty.SlavePath.substr(pty.SlavePath.rfind('/') + 1);
    EXPECT_EQ(DescribeSerialPort(number, places, user).Access, TPortAccess::Allowed);
}

// A process of the made-up /proc: its name, its account, and the files it has open.
void FakeProcess(const TPortPlaces& places, int pid, const std::string& name, int uid,
                 const std::vector<fs::path>& open = {}) {
    const fs::path folder = fs::path(places.Proc) / std::to_string(pid);
    fs::create_directories(folder / "fd");
    std::ofstream(folder / "comm") << name << "\n";
    std::ofstream(folder / "status") << "Name:\t" << name << "\nUid:\t" << uid << "\t" << uid
                                     << "\t" << uid << "\t" << uid << "\n";
    int fd = 3;
    for (const fs::path& file : open) {
        fs::create_symlink(file, folder / "fd" / std::to_string(fd++));
    }
}

TEST_F(PortTree, HoldersFromOpenFilesLocksAndLockFiles) {
    const fs::path node = fs::path(Places.DevDir) / "ttyUSB0";
    struct stat st {};
    ASSERT_EQ(::stat(node.c_str(), &st), 0);
    FakeProcess(Places, 700, "screen", 0, {"/dev/null", node});
    FakeProcess(Places, 800, "tarvex6-flash", 0);
    FakeProcess(Places, 900, "minicom", 0);
    FakeProcess(Places, 901, "bash", 0, {"/dev/null"});
    char line[128];
    std::snprintf(line, sizeof line, "1: FLOCK  ADVISORY  WRITE 800 %02x:%02x:%llu 0 EOF\n",
                  major(st.st_dev), minor(st.st_dev), static_cast<unsigned long long>(st.st_ino));
    std::ofstream(fs::path(Places.Proc) / "locks")
        << line << "2: FLOCK  ADVISORY  WRITE 901 00:05:1 0 EOF\n";
    const fs::path lock = fs::path(Places.LockDirs.at(1)) / "LCK..ttyUSB0";
    fs::create_directories(lock.parent_path());
    std::ofstream(lock) << "       900\n";

    const TSerialPortInfo info = Describe("ttyUSB0", User({}, {}));
    ASSERT_EQ(info.Holders.size(), 3U);
    EXPECT_EQ(HoldersText(info.Holders),
              "Порт тримають: screen (процес 700, користувач root), tarvex6-flash (процес 800, "
              "користувач root), minicom (процес 900, користувач root, файл блокування " +
                  lock.string() + ")");
    // Another port, nobody's.
    EXPECT_TRUE(Describe("ttyACM0", User({}, {})).Holders.empty());
    // Without the look for holders (the port list's tool tips), none are found.
    TPortPlaces quick = Places;
    quick.LookAtProcesses = false;
    EXPECT_TRUE(DescribeSerialPort("ttyUSB0", quick, User({}, {})).Holders.empty());
}

TEST_F(PortTree, LockFilesInBothFormsAndStaleOnes) {
    FakeProcess(Places, 4321, "cu", 1);
    const int binary = 4321;
    const struct Case {
        std::string Content;
        bool Held;
    } cases[] = {
        {"      4321\n", true},
        {std::string(reinterpret_cast<const char*>(&binary), sizeof binary), true},
        {"      4322\n", false}, // no such process: a stale lock
        {"garbage", false},
    };
    const fs::path lock = fs::path(Places.LockDirs.at(0)) / "LCK..ttyUSB0";
    fs::create_directories(lock.parent_path());
    for (const Case& c : cases) {
        std::ofstream(lock, std::ios::binary | std::ios::trunc) << c.Content;
        const auto holders = Describe("ttyUSB0", User({}, {})).Holders;
        ASSERT_EQ(holders.size(), c.Held ? 1U : 0U) << c.Content;
        if (c.Held) {
            EXPECT_EQ(holders[0].Program, "cu");
            EXPECT_EQ(holders[0].LockFile, lock.string());
        }
    }
}

// Lock files anyone may plant in /run/lock: read without following a link or blocking,
// a few bytes at most, and only a live user process is a holder.  Each case leaves the
// port unheld and the lock named stale, with the reason.
TEST_F(PortTree, PlantedLockFilesHoldNothingAndAreNamedStale) {
    FakeProcess(Places, 4321, "cu", 1);
    FakeProcess(Places, 2, "kthreadd", 0);
    std::ofstream(fs::path(Places.Proc) / "2/stat") << "2 (kthreadd) S 0 0 0 0 -1 2129984 0 0\n";
    FakeProcess(Places, 3000, "gone", 1);
    std::ofstream(fs::path(Places.Proc) / "3000/stat") << "3000 (gone) Z 1 1 1 0 -1 4227332 0\n";
    const fs::path lock = fs::path(Places.LockDirs.at(0)) / "LCK..ttyUSB0";
    const fs::path live = Root / "live-lock";
    std::ofstream(live) << "      4321\n";
    using TWhy = TStaleLock::TWhy;
    const struct Case {
        const char* Name;
        std::function<void()> Plant;
        TWhy Why;
        std::int64_t Pid;
    } cases[] = {
        {"FIFO", [&] { ASSERT_EQ(::mkfifo(lock.c_str(), 0644), 0); }, TWhy::NotAFile, 0},
        {"link to /dev/zero", [&] { fs::create_symlink("/dev/zero", lock); }, TWhy::NotAFile, 0},
        {"link to a live lock", [&] { fs::create_symlink(live, lock); }, TWhy::NotAFile, 0},
        {"folder", [&] { fs::create_directory(lock); }, TWhy::NotAFile, 0},
        {"kernel thread", [&] { std::ofstream(lock) << "         2\n"; }, TWhy::KernelThread, 2},
        {"zombie", [&] { std::ofstream(lock) << "      3000\n"; }, TWhy::EndedProcess, 3000},
        {"no process", [&] { std::ofstream(lock) << "      4322\n"; }, TWhy::NoProcess, 4322},
        {"no number", [&] { std::ofstream(lock) << "\x1b[2J"; }, TWhy::NoPid, 0},
        // A live process's id after a megabyte of blanks lies past what is read.
        {"padded", [&] { std::ofstream(lock) << std::string(1 << 20, ' ') << "4321\n"; },
         TWhy::NoPid, 0},
    };
    fs::create_directories(lock.parent_path());
    // The second lock folder a link to the first, as /var/lock is: each lock named once.
    fs::create_directories(fs::path(Places.LockDirs.at(1)).parent_path());
    fs::create_directory_symlink(lock.parent_path(), Places.LockDirs.at(1));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove_all(lock);
        c.Plant();
        const TSerialPortInfo info = Describe("ttyUSB0", User({}, {}));
        EXPECT_TRUE(info.Holders.empty());
        ASSERT_EQ(info.StaleLocks.size(), 1U);
        EXPECT_EQ(info.StaleLocks[0].File, lock.string());
        EXPECT_EQ(info.StaleLocks[0].Why, c.Why);
        EXPECT_EQ(info.StaleLocks[0].Pid, c.Pid);
    }
    // The live lock itself, and what the texts say.
    fs::remove_all(lock);
    fs::copy_file(live, lock);
    const TSerialPortInfo held = Describe("ttyUSB0", User({}, {}));
    ASSERT_EQ(held.Holders.size(), 1U);
    EXPECT_TRUE(held.StaleLocks.empty());
    EXPECT_EQ(StaleLockText({"/run/lock/LCK..ttyS0", 2, TWhy::KernelThread}),
              "Застарілий файл блокування /run/lock/LCK..ttyS0: процес 2 - потік ядра; порт він "
              "не тримає");
}

// A process that has ended but was not yet reaped, as the real /proc shows it.
TEST(PortHolderLocks, AZombieNamedByALockFileHoldsNothing) {
    PtyPair pty;
    char pattern[] = "/tmp/bcport-zombie-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    TPortPlaces places;
    places.LockDirs = {dir.string()};
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(0);
    }
    siginfo_t info{};
    // Waits for the end without reaping: the child stays a zombie.
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
    const std::string name = pty.SlavePath.substr(pty.SlavePath.rfind('/') + 1);
    std::ofstream(dir / ("LCK.." + name)) << "  " << child << "\n";
    EXPECT_TRUE(FindPortHolders(pty.SlavePath, TPortHoldScan::Locks, places).empty());
    const auto stale = FindStaleLocks(pty.SlavePath, places);
    ASSERT_EQ(stale.size(), 1U);
    EXPECT_EQ(stale[0].Why, TStaleLock::TWhy::EndedProcess);
    ::waitpid(child, nullptr, 0);
    fs::remove_all(dir);
}

// Files of /proc, /sys and /run are read only when regular, and never past the bound.
TEST(PlantedFiles, OnlyRegularFilesAreReadAndNeverPastTheBound) {
    char pattern[] = "/tmp/bcport-planted-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    std::ofstream(dir / "small") << "188:0\n";
    std::ofstream(dir / "big") << std::string(100000, 'x');
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    fs::create_symlink(dir / "small", dir / "link");
    fs::create_symlink("/dev/zero", dir / "zero");
    fs::create_directory(dir / "folder");
    const struct Case {
        const char* Name;
        bool FollowLink;
        std::optional<std::string> Content;
    } cases[] = {
        {"small", false, "188:0\n"},     {"big", false, std::string(64, 'x')},
        {"fifo", false, std::nullopt},   {"link", false, std::nullopt},
        {"link", true, "188:0\n"},       {"zero", true, std::nullopt},
        {"folder", false, std::nullopt}, {"missing", false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(ReadPlantedFile((dir / c.Name).string(), 64, c.FollowLink), c.Content);
    }
    EXPECT_EQ(FirstLine((dir / "small").string()), "188:0");
    EXPECT_EQ(FirstLine((dir / "fifo").string()), "");
    EXPECT_EQ(FirstLine((dir / "big").string()).size(), 4096U);
    fs::remove_all(dir);
}

TEST_F(PortTree, ModemManagerIsReportedUnlessTheAdapterIsIgnored) {
    const fs::path udev = fs::path(Places.UdevData) / "c188:0";
    fs::create_directories(udev.parent_path());
    const struct Case {
        bool Runs;
        const char* Udev;
        bool Reported;
    } cases[] = {
        {false, "E:ID_VENDOR_ID=0403\n", false},
        {true, "E:ID_VENDOR_ID=0403\n", true},
        {true, "E:ID_VENDOR_ID=0403\nE:ID_MM_DEVICE_IGNORE=1\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Udev);
        fs::remove_all(Places.Proc);
        if (c.Runs) {
            FakeProcess(Places, 612, "ModemManager", 0);
        }
        std::ofstream(udev) << c.Udev;
        const TSerialPortInfo info = Describe("ttyUSB0", User({}, {}));
        EXPECT_EQ(info.ModemManagerProbes, c.Reported);
        const auto advice = ServiceAdvice(info);
        ASSERT_EQ(advice.size(), c.Reported ? 1U : 0U);
        if (c.Reported) {
            EXPECT_NE(advice[0].find("ACTION==\"add|change\", ATTRS{idVendor}==\"0403\", "
                                     "ATTRS{idProduct}==\"6001\", ENV{ID_MM_DEVICE_IGNORE}=\"1\""),
                      std::string::npos)
                << advice[0];
            EXPECT_NE(advice[0].find("systemctl stop ModemManager"), std::string::npos);
        }
        // A port that is not on USB is none of its business.
        EXPECT_FALSE(Describe("ttyS0", User({}, {})).ModemManagerProbes);
    }
}

TEST_F(PortTree, BrlttyRulesThatClaimTheAdapter) {
    const fs::path packaged = fs::path(Places.UdevRules.at(0)) / "85-brltty.rules";
    const fs::path local = fs::path(Places.UdevRules.at(2)) / "85-brltty.rules";
    fs::create_directories(packaged.parent_path());
    fs::create_directories(local.parent_path());
    const struct Case {
        const char* Rule;
        bool Masked;
        bool Claims;
    } cases[] = {
        {"ENV{PRODUCT}==\"403/6001/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\", GOTO=\"run\"", false,
         true},
        {"ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", RUN+=\"brltty\"", false, true},
        {"# ENV{PRODUCT}==\"403/6001/*\", GOTO=\"run\"", false, false},
        {"ENV{PRODUCT}==\"403/6010/*\", GOTO=\"run\"", false, false},
        {"ENV{PRODUCT}==\"403/6001/*\", GOTO=\"run\"", true, false}, // disabled in /etc
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Rule);
        std::ofstream(packaged) << "# Device: 0403:6001\n" << c.Rule << "\n";
        fs::remove(local);
        if (c.Masked) {
            fs::create_symlink("/dev/null", local);
        }
        const TSerialPortInfo info = Describe("ttyUSB0", User({}, {}));
        EXPECT_EQ(info.BrlttyRules, c.Claims ? packaged.string() : std::string());
        const auto advice = ServiceAdvice(info);
        ASSERT_EQ(advice.size(), c.Claims ? 1U : 0U);
        if (c.Claims) {
            EXPECT_NE(advice[0].find("sudo apt remove brltty"), std::string::npos);
            EXPECT_NE(advice[0].find("ln -s /dev/null /etc/udev/rules.d/85-brltty.rules"),
                      std::string::npos);
        }
    }
}

TEST_F(PortTree, TheKernelLogShowsBrlttyTakingTheAdapter) {
    const fs::path kmsg = Places.KernelLog;
    fs::create_directories(kmsg.parent_path());
    const std::string taken =
        "usb 1-1: usbfs: interface 0 claimed by ftdi_sio while 'brltty' sets config #1";
    std::ofstream(kmsg) << "6,1201,5000,-;usb 1-1: new full-speed USB device number 3\n"
                        << "6,1202,5100,-;usb 1-2: usbfs: interface 0 claimed by cdc_acm while "
                           "'brltty' sets config #1\n"
                        << "6,1203,5200,-;" << taken << "\n SUBSYSTEM=usb\n";
    const TSerialPortInfo ftdi = Describe("ttyUSB0", User({}, {}));
    EXPECT_EQ(ftdi.BrlttyKernelLog, taken);
    const auto advice = ServiceAdvice(ftdi);
    ASSERT_EQ(advice.size(), 1U);
    EXPECT_NE(advice[0].find("забрала адаптер 0403:6001 (журнал ядра: " + taken + ")"),
              std::string::npos)
        << advice[0];
    EXPECT_NE(advice[0].find("sudo apt remove brltty"), std::string::npos);

    std::ofstream(kmsg) << "6,1201,5000,-;usb 1-1: new full-speed USB device number 3\n";
    EXPECT_EQ(Describe("ttyUSB0", User({}, {})).BrlttyKernelLog, "");
}

// A built-in UART as Linux 6.1 shows it (the tty's device is the UART's own) and as 6.5
// and later do (the serial core's port and controller devices on the serial-base bus in
// between).
TEST_F(PortTree, TheUartsOwnDriverOnOldAndNewKernels) {
    const fs::path bus = Root / "sys/bus/serial-base";
    fs::create_directories(bus);
    const fs::path uart = Devices / "pnp0/00:00";
    Tty("ttyS1", uart, "serial");
    EXPECT_EQ(Describe("ttyS1", User({}, {})).Driver, "serial");

    const fs::path ctrl = uart / "00:00:0";
    const fs::path port = ctrl / "00:00:0.0";
    for (const auto& [device, driver] : {std::pair{ctrl, "ctrl"}, std::pair{port, "port"}}) {
        fs::create_directories(device);
        fs::create_directories(Drivers / driver);
        fs::create_directory_symlink(Drivers / driver, device / "driver");
        fs::create_directory_symlink(bus, device / "subsystem");
    }
    const fs::path entry = fs::path(Places.SysClassTty) / "ttyS1/device";
    fs::remove(entry);
    fs::create_directory_symlink(port, entry);
    const TSerialPortInfo info = Describe("ttyS1", User({}, {}));
    EXPECT_EQ(info.Driver, "serial");
    EXPECT_EQ(PortSummary(info), "драйвер serial");
}

} // namespace
