// Port facts on Linux, read straight from sysfs and /dev, without udev.
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>

#include "PortHoldersLinux.h"
#include "PortInfo.h"
#include "PortListLinux.h"

namespace {

std::string Basename(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

std::string ReadLink(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(n));
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string GroupName(gid_t gid) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return found->gr_name;
    }
    return std::to_string(gid);
}

std::string ModeText(mode_t mode) {
    std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : S_ISLNK(mode) ? "l" : "-";
    const mode_t bits[] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP,
                           S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    const char letters[] = "rwxrwxrwx";
    for (std::size_t i = 0; i < 9; ++i) {
        text += (mode & bits[i]) != 0 ? letters[i] : '-';
    }
    return text;
}

bool Contains(const std::vector<gid_t>& groups, gid_t gid) {
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// The verdict the mode bits give for `user`.
TPortAccess JudgeByMode(const struct stat& st, const TPortUser& user) {
    const auto rw = [&st](mode_t r, mode_t w) {
        return (st.st_mode & r) != 0 && (st.st_mode & w) != 0;
    };
    if (user.Uid == 0) {
        return TPortAccess::Allowed;
    }
    if (rw(S_IROTH, S_IWOTH)) {
        return TPortAccess::Allowed;
    }
    if (st.st_uid == user.Uid && rw(S_IRUSR, S_IWUSR)) {
        return TPortAccess::Allowed;
    }
    if (!rw(S_IRGRP, S_IWGRP)) {
        return st.st_uid == user.Uid ? TPortAccess::Denied : TPortAccess::OwnerOnly;
    }
    if (Contains(user.SessionGroups, st.st_gid)) {
        return TPortAccess::Allowed;
    }
    return Contains(user.AccountGroups, st.st_gid) ? TPortAccess::GroupNotInSession
                                                   : TPortAccess::NotInGroup;
}

void FillAccess(TSerialPortInfo& info, const TPortUser& user) {
    struct stat st {};
    if (::stat(info.DevicePath.c_str(), &st) != 0) {
        const int error = errno;
        info.Access = error == ENOENT ? TPortAccess::NoDeviceNode : TPortAccess::Denied;
        info.AccessError = std::strerror(error);
        return;
    }
    info.Group = GroupName(st.st_gid);
    info.Mode = ModeText(st.st_mode);
    info.Access = JudgeByMode(st, user);
    if (user.UseAccessCall) {
        if (::access(info.DevicePath.c_str(), R_OK | W_OK) == 0) {
            info.Access = TPortAccess::Allowed; // an ACL may allow what the bits do not
        } else {
            info.AccessError = std::strerror(errno);
            if (info.Access == TPortAccess::Allowed) {
                info.Access = TPortAccess::Denied;
            }
        }
    }
}

// USB facts: the USB device folder holds idVendor; the interface folder, below it, may hold
// its own name.  A usb-serial tty's device is a port below the interface, a cdc_acm tty's
// device is the interface itself.
// Returns the USB device's folder; empty for a port that is not on USB.
std::string FillUsb(TSerialPortInfo& info, const std::string& device) {
    std::string folder = device;
    for (int level = 0; level < 4 && !folder.empty(); ++level, folder = Parent(folder)) {
        if (info.Interface.empty() && Exists(folder + "/bInterfaceNumber")) {
            info.Interface = FirstLine(folder + "/interface");
        }
        if (Exists(folder + "/idVendor")) {
            info.VendorId = FirstLine(folder + "/idVendor");
            info.ProductId = FirstLine(folder + "/idProduct");
            info.Manufacturer = FirstLine(folder + "/manufacturer");
            info.Product = FirstLine(folder + "/product");
            info.SerialNumber = FirstLine(folder + "/serial");
            return folder;
        }
    }
    return {};
}

// The driver that owns the hardware.  Since Linux 6.5 a UART's tty hangs below the serial
// core's own devices on the serial-base bus, a port device (driver "port") below a
// controller device (driver "ctrl"), below the device of the UART's real driver.
std::string OwningDriver(std::string device) {
    for (int level = 0; level < 3 && !device.empty(); ++level, device = Parent(device)) {
        if (Basename(ReadLink(device + "/subsystem")) != "serial-base") {
            break;
        }
    }
    return device.empty() ? std::string() : Basename(ReadLink(device + "/driver"));
}

// Whether a service may take the USB adapter behind the port (ModemManager, brltty).
void FillServices(TSerialPortInfo& info, const std::string& entry, const std::string& usb,
                  const TPortPlaces& places) {
    if (usb.empty()) {
        return;
    }
    info.BrlttyRules = BrlttyRulesFor(places, info.VendorId, info.ProductId);
    if (places.LookAtProcesses) {
        info.ModemManagerProbes =
            !ModemManagerIgnores(places, FirstLine(entry + "/dev")) && ModemManagerRuns(places);
        info.BrlttyKernelLog = BrlttyInKernelLog(places, Basename(usb));
    }
}

bool IsPtyTarget(const std::string& target) {
    for (const std::string prefix : {"/dev/pts/", "pts/"}) {
        if (target.size() > prefix.size() && target.compare(0, prefix.size(), prefix) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

TPortUser CurrentPortUser() {
    TPortUser user;
    user.Uid = ::getuid();
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    gid_t primary = ::getgid();
    if (::getpwuid_r(user.Uid, &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr) {
        user.Name = found->pw_name;
        primary = found->pw_gid;
    }
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        user.SessionGroups.resize(static_cast<std::size_t>(count));
        const int got = ::getgroups(count, user.SessionGroups.data());
        user.SessionGroups.resize(static_cast<std::size_t>(std::max(got, 0)));
    }
    user.SessionGroups.push_back(::getgid());
    user.SessionGroups.push_back(::getegid());
    if (!user.Name.empty()) {
        int n = 64;
        std::vector<gid_t> groups(static_cast<std::size_t>(n));
        if (::getgrouplist(user.Name.c_str(), primary, groups.data(), &n) < 0 && n > 0) {
            groups.resize(static_cast<std::size_t>(n));
            ::getgrouplist(user.Name.c_str(), primary, groups.data(), &n);
        }
        groups.resize(static_cast<std::size_t>(std::max(n, 0)));
        user.AccountGroups = groups;
    }
    return user;
}

TSerialPortInfo DescribeSerialPort(const std::string& name, const TPortPlaces& places,
                                   const TPortUser& user) {
    TSerialPortInfo info;
    info.Name = name;
    info.DevicePath = places.DevDir + "/" + name;
    const std::string entry = places.SysClassTty + "/" + name;
    if (Exists(entry + "/device")) {
        const std::string device = RealPath(entry + "/device");
        info.Driver = OwningDriver(device);
        const std::string latency = FirstLine(entry + "/device/latency_timer");
        if (!latency.empty() && latency.find_first_not_of("0123456789") == std::string::npos &&
            latency.size() < 4) {
            info.LatencyTimerMs = std::stoi(latency);
            // ftdi_sio runs the timer at 1 ms while ASYNC_LOW_LATENCY is set, which Open asks
            // for; sysfs goes on showing the adapter's own setting.
            info.LowLatencyAtOpen = info.Driver == "ftdi_sio";
        }
        const std::string usb = device.empty() ? std::string() : FillUsb(info, device);
        FillServices(info, entry, usb, places);
    } else {
        info.LinkTarget = ReadLink(info.DevicePath);
        if (IsPtyTarget(info.LinkTarget)) {
            info.Driver = "pseudo-terminal";
        }
    }
    for (const std::string& link : Names(places.ById)) {
        if (Basename(ReadLink(places.ById + "/" + link)) == name) {
            info.ById.push_back(link);
        }
    }
    FillAccess(info, user);
    if (!places.LookAtProcesses) {
        return info;
    }
    // Whoever made a pseudo-terminal keeps it open; only its locks say it is taken.
    info.Holders = FindPortHolders(info.DevicePath,
                                   info.Driver == "pseudo-terminal" ? TPortHoldScan::Locks
                                                                    : TPortHoldScan::Everything,
                                   places);
    info.StaleLocks = FindStaleLocks(info.DevicePath, places);
    return info;
}

std::vector<TSerialPortInfo> DescribeSerialPorts(const TPortPlaces& places, const TPortUser& user) {
    std::vector<std::string> names;
    ListSerialPortsIn(names, places.SysClassTty, places.DevDir);
    std::vector<TSerialPortInfo> ports;
    ports.reserve(names.size());
    for (const std::string& name : names) {
        ports.push_back(DescribeSerialPort(name, places, user));
    }
    return ports;
}

std::string GroupNameOf(gid_t gid) {
    return GroupName(gid);
}

const TPortSummaryLabels UkrainianPortLabels = {
    .PseudoTerminal = "псевдотермінал",
    .Driver = "драйвер",
    .SerialNumber = "серійний номер",
    .LatencyTimer = "таймер затримки",
    .Milliseconds = "мс",
};

std::string AccessReason(const TSerialPortInfo& info, const TPortUser& user) {
    const std::string who = user.Name.empty() ? "цей користувач" : "користувач " + user.Name;
    switch (info.Access) {
    case TPortAccess::Allowed:
        return {};
    case TPortAccess::NoDeviceNode:
        return "Файл пристрою " + info.DevicePath + " відсутній.";
    case TPortAccess::NotInGroup:
        return "Пристрій належить групі " + info.Group + " (" + info.Mode + "), а " + who +
               " до неї не входить.";
    case TPortAccess::GroupNotInSession:
        return "Користувача" + (user.Name.empty() ? std::string() : " " + user.Name) +
               " додано до групи " + info.Group +
               " після входу в систему: цей сеанс ще не має її прав.";
    case TPortAccess::OwnerOnly:
        return "Пристрій доступний лише своєму власникові (" + info.Mode + ").";
    case TPortAccess::Denied:
        break;
    }
    return "Система не дає відкрити пристрій" +
           (info.AccessError.empty() ? std::string(".") : ": " + info.AccessError + ".");
}

std::string AccessFix(const TSerialPortInfo& info, const TPortUser& user) {
    const std::string name = user.Name.empty() ? "$USER" : user.Name;
    if (info.Driver == "pseudo-terminal" && info.Access != TPortAccess::Allowed) {
        // A pseudo-terminal belongs to whoever opened it; groups and udev do not apply.
        return "Запустіть програму від імені того користувача, що створив псевдотермінал "
               "(наприклад, запустив симулятор).";
    }
    switch (info.Access) {
    case TPortAccess::Allowed:
        return {};
    case TPortAccess::NoDeviceNode:
        return ReconnectDeviceFix;
    case TPortAccess::NotInGroup:
        return "Додайте користувача до групи: sudo usermod -aG " + info.Group + " " + name +
               ", потім вийдіть із системи й увійдіть знову.";
    case TPortAccess::GroupNotInSession:
        return "Вийдіть із системи й увійдіть знову (або перезавантажте комп'ютер).";
    case TPortAccess::OwnerOnly:
        return "Попросіть адміністратора відкрити пристрій для групи (правило udev з "
               "GROUP=\"dialout\", MODE=\"0660\").";
    case TPortAccess::Denied:
        break;
    }
    return "Зверніться до адміністратора комп'ютера.";
}

const char* const LowerLatencyFix =
    "Програма сама просить драйвер про малу затримку (1 мс) на час запису; щоб так було "
    "завжди, додайте правило udev: ACTION==\"add\", SUBSYSTEM==\"usb-serial\", "
    "DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\".";
