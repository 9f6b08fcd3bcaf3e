// What each serial port is and whether this user may open it: the facts behind the port
// list's tool tips, the port diagnosis and the flasher's port listing.  No windowing here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A process that holds a port: it has the device open, holds a lock on it, or owns its UUCP
// lock file.
struct TPortHolder {
    std::int64_t Pid = 0;
    std::string Program;  // the process's name; empty when this user cannot see it
    std::string User;     // the account it runs as (or its number); empty when unknown
    std::string LockFile; // the UUCP lock file that names it, when that is how it holds
};

// A UUCP lock file named after a port that holds nothing: its process is gone or was never
// one that could hold a port.  Nothing is ever written or removed in the lock folders.
struct TStaleLock {
    enum class TWhy {
        NoPid,        // the file names no process id
        NotAFile,     // a link, a FIFO, a device or a folder, not a regular file
        Unreadable,   // a regular file this user may not read
        NoProcess,    // no process has the id
        KernelThread, // the id is a kernel thread's
        EndedProcess, // the process has ended (a zombie)
    };
    std::string File;
    std::int64_t Pid = 0; // 0 when the file names none
    TWhy Why = TWhy::NoPid;
};

// Whether the user may open a port's device, and if not, why.
enum class TPortAccess {
    Allowed,           // reading and writing are allowed
    NoDeviceNode,      // the system lists the port but its device file is missing
    NotInGroup,        // the device belongs to a group the user is not a member of
    GroupNotInSession, // the user was added to the group after logging in
    OwnerOnly,         // the device gives no access to its group or to others
    Denied,            // refused for another reason (see AccessError)
};

struct TSerialPortInfo {
    std::string Name;         // as in the port list: ttyUSB0, TARVEX6-SIM
    std::string DevicePath;   // /dev/ttyUSB0
    std::string Driver;       // ftdi_sio, cdc_acm, serial8250; "pseudo-terminal" for a pty link
    std::string Manufacturer; // USB maker as the device reports it
    std::string Product;      // USB product
    std::string SerialNumber; // USB serial number
    std::string VendorId;     // four hex digits, USB only
    std::string ProductId;
    std::string Interface;         // the USB interface's own name, where it has one
    std::string LinkTarget;        // where a link in /dev points (pseudo-terminals)
    std::vector<std::string> ById; // names in /dev/serial/by-id that point at the device
    // The USB adapter's latency timer in milliseconds where its driver has one (FTDI), else
    // -1: the adapter holds received bytes up to that long before passing them on.
    int LatencyTimerMs = -1;
    // The driver runs that timer at 1 ms while the port is open in low-latency mode, which
    // the serial component asks for at Open (Linux ftdi_sio): the timer above is then the
    // adapter's setting, not what the write meets.
    bool LowLatencyAtOpen = false;

    TPortAccess Access = TPortAccess::Denied;
    std::string Group;       // the device's group name (or its number when it has no name)
    std::string Mode;        // permissions as "crw-rw----"
    std::string AccessError; // the system's text for a denial not explained by the groups

    // Other processes holding the port now (Linux).  A pseudo-terminal's maker holds it
    // as a matter of course, so for a pseudo-terminal only locks and lock files count.
    std::vector<TPortHolder> Holders;
    // Lock files named after the port that hold it not (Linux, where processes are looked at).
    std::vector<TStaleLock> StaleLocks;
    // ModemManager runs and has not been told to leave this USB port alone: it opens new
    // ports and sends modem commands into them for some seconds.
    bool ModemManagerProbes = false;
    // The brltty udev rules file that claims this adapter's USB identifiers; empty when none.
    std::string BrlttyRules;
    // The kernel's message that brltty took the adapter's interface; empty when none.
    std::string BrlttyKernelLog;
};

// The user whose access is judged.  UseAccessCall: ask the system (access(2)), which also
// honours ACLs; without it the verdict is worked out from the device's mode bits alone.
struct TPortUser {
    std::uint32_t Uid = 0;
    std::string Name;
    std::vector<std::uint32_t> SessionGroups; // the groups this process runs with
    std::vector<std::uint32_t>
        AccountGroups; // the groups the account has now in the group database
    bool UseAccessCall = true;
};

// Where the facts are read; the defaults are the machine's own.
struct TPortPlaces {
    std::string SysClassTty = "/sys/class/tty";
    std::string DevDir = "/dev";
    std::string ById = "/dev/serial/by-id";
    std::string Proc = "/proc";
    std::vector<std::string> LockDirs = {"/run/lock", "/var/lock"}; // UUCP lock files
    std::string UdevData = "/run/udev/data";                        // c<major>:<minor>
    std::string KernelLog = "/dev/kmsg";
    // udev rules, later folders overriding a file of the same name in earlier ones.
    std::vector<std::string> UdevRules = {"/usr/lib/udev/rules.d", "/lib/udev/rules.d",
                                          "/etc/udev/rules.d", "/run/udev/rules.d"};

    // Whether to look at every process (the port's holders, ModemManager) and at the kernel
    // log (brltty), some milliseconds: the overview and the port listing do, the port list's
    // tool tips, filled at start-up, do not.
    bool LookAtProcesses = true;

    // The same places below `root`, a made-up tree standing in for the machine.
    static TPortPlaces UnderRoot(const std::string& root);
};

// The user running this program.
TPortUser CurrentPortUser();

// One port by its list name.
TSerialPortInfo DescribeSerialPort(const std::string& name, const TPortPlaces& places = {},
                                   const TPortUser& user = CurrentPortUser());

// Every port ListSerialPorts would list, in the same order; raises EComPort message 15 when
// the system's list cannot be read, as ListSerialPorts does.
std::vector<TSerialPortInfo> DescribeSerialPorts(const TPortPlaces& places = {},
                                                 const TPortUser& user = CurrentPortUser());

// The USB device as the user knows it, e.g. "FTDI FT232R USB UART (USB 0403:6001)"; empty
// for a port that is not on USB.
std::string UsbDescription(const TSerialPortInfo& info);

// A group's name, or its number when the group database has no name for it.
std::string GroupNameOf(std::uint32_t gid);

// The labels of a port summary, in the window's Ukrainian or the command line's English.
struct TPortSummaryLabels {
    const char* PseudoTerminal;
    const char* Driver; // before TSerialPortInfo::Driver, which names a device on Windows
    const char* SerialNumber;
    const char* LatencyTimer;
    const char* Milliseconds;
};

// The window's labels on this system.
extern const TPortSummaryLabels UkrainianPortLabels;

// One line saying what the port is, e.g. "драйвер ftdi_sio, FTDI FT232R USB UART (USB
// 0403:6001), серійний номер A12345"; empty when nothing is known.
std::string PortSummary(const TSerialPortInfo& info,
                        const TPortSummaryLabels& labels = UkrainianPortLabels);

// In Ukrainian, for the user: why the port cannot be opened and what to do about it; both
// empty when it can be opened.
std::string AccessReason(const TSerialPortInfo& info, const TPortUser& user);
std::string AccessFix(const TSerialPortInfo& info, const TPortUser& user);

// In Ukrainian: what an adapter's latency timer above 1 ms means for a 64 KiB write (its
// cost, or that the write runs it at 1 ms where the driver's low-latency mode does) and how
// to lower it; empty when the timer is 1 ms or unknown.
std::string LatencyAdvice(const TSerialPortInfo& info);

// In Ukrainian, one line: who holds the port, e.g. "Порт тримає: minicom (процес 1234,
// користувач ivan)"; with no holder known, that a process this user cannot see holds it.
std::string HoldersText(const std::vector<TPortHolder>& holders);

// In Ukrainian, one line: that a lock file holds nothing and why, e.g. "Застарілий файл
// блокування /run/lock/LCK..ttyS0: процес 2 - потік ядра; порт він не тримає".
std::string StaleLockText(const TStaleLock& lock);

// In Ukrainian: the services that take USB serial adapters (ModemManager, brltty) and how to
// stop them, one paragraph each; empty when none does.
std::vector<std::string> ServiceAdvice(const TSerialPortInfo& info);

// The udev rule that tells ModemManager to leave an adapter alone.
std::string ModemManagerIgnoreRule(const TSerialPortInfo& info);

// How to lower an adapter's latency timer on this system.
extern const char* const LowerLatencyFix;

// The fix for a port whose device has gone away, the same on every system.
extern const char* const ReconnectDeviceFix;
