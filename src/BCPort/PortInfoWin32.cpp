// Port facts on Windows: the device names of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM and whether
// the system knows the port's device now.  Nothing is opened: on Windows whether another
// program holds a port shows only when it is opened (message 2), and opening a port would
// move its DTR and RTS lines.  USB facts need SetupAPI and are left empty, but for the
// latency timer of FTDI adapters, which their driver keeps in the device's registry key.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "ComMessages.h"
#include "PortInfo.h"
#include "PortList.h"

namespace {

// Port name -> the driver's device name ("COM3" -> "\Device\Serial0"); empty when the key
// cannot be read.
std::map<std::string, std::string> DeviceNames() {
    std::map<std::string, std::string> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return names;
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        char data[256];
        DWORD nameSize = sizeof name;
        DWORD dataSize = sizeof data;
        if (::RegEnumValueA(key, index, name, &nameSize, nullptr, nullptr,
                            reinterpret_cast<BYTE*>(data), &dataSize) != ERROR_SUCCESS) {
            break;
        }
        names[std::string(data, ::strnlen(data, dataSize))] = std::string(name, nameSize);
    }
    ::RegCloseKey(key);
    return names;
}

// The subkeys of an open key, by name.
std::vector<std::string> SubKeys(HKEY key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD size = sizeof name;
        if (::RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, size);
    }
    return names;
}

// Port name -> LatencyTimer, from each FTDI device's
// HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS\<device>\<instance>\Device Parameters.
std::map<std::string, int> FtdiLatencyTimers() {
    std::map<std::string, int> timers;
    const std::string root = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";
    HKEY bus = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, root.c_str(), 0, KEY_READ, &bus) != ERROR_SUCCESS) {
        return timers;
    }
    for (const std::string& device : SubKeys(bus)) {
        HKEY deviceKey = nullptr;
        if (::RegOpenKeyExA(bus, device.c_str(), 0, KEY_READ, &deviceKey) != ERROR_SUCCESS) {
            continue;
        }
        for (const std::string& instance : SubKeys(deviceKey)) {
            HKEY parameters = nullptr;
            if (::RegOpenKeyExA(deviceKey, (instance + "\\Device Parameters").c_str(), 0, KEY_READ,
                                &parameters) != ERROR_SUCCESS) {
                continue;
            }
            char port[64];
            DWORD portSize = sizeof port;
            DWORD portType = 0;
            DWORD latency = 0;
            DWORD latencySize = sizeof latency;
            DWORD latencyType = 0;
            if (::RegQueryValueExA(parameters, "PortName", nullptr, &portType,
                                   reinterpret_cast<BYTE*>(port), &portSize) == ERROR_SUCCESS &&
                portType == REG_SZ &&
                ::RegQueryValueExA(parameters, "LatencyTimer", nullptr, &latencyType,
                                   reinterpret_cast<BYTE*>(&latency),
                                   &latencySize) == ERROR_SUCCESS &&
                latencyType == REG_DWORD && latency <= 255) {
                timers[std::string(port, ::strnlen(port, portSize))] = static_cast<int>(latency);
            }
            ::RegCloseKey(parameters);
        }
        ::RegCloseKey(deviceKey);
    }
    ::RegCloseKey(bus);
    return timers;
}

TSerialPortInfo Describe(const std::string& name, const std::map<std::string, std::string>& devices,
                         const std::map<std::string, int>& timers) {
    TSerialPortInfo info;
    info.Name = name;
    info.DevicePath = "\\\\.\\" + name;
    const auto device = devices.find(name);
    if (device != devices.end()) {
        info.Driver = device->second;
    }
    const auto timer = timers.find(name);
    if (timer != timers.end()) {
        info.LatencyTimerMs = timer->second;
    }
    char target[1024];
    info.Access = !name.empty() && ::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0
                      ? TPortAccess::Allowed
                      : TPortAccess::NoDeviceNode;
    return info;
}

} // namespace

TPortUser CurrentPortUser() {
    TPortUser user;
    char name[256];
    DWORD size = sizeof name;
    if (::GetUserNameA(name, &size) && size > 0) {
        user.Name.assign(name, size - 1);
    }
    return user;
}

TSerialPortInfo DescribeSerialPort(const std::string& name, const TPortPlaces&, const TPortUser&) {
    return Describe(name, DeviceNames(), FtdiLatencyTimers());
}

std::vector<TSerialPortInfo> DescribeSerialPorts(const TPortPlaces&, const TPortUser&) {
    std::vector<std::string> names;
    ListSerialPorts(names);
    const auto devices = DeviceNames();
    const auto timers = FtdiLatencyTimers();
    std::vector<TSerialPortInfo> ports;
    ports.reserve(names.size());
    for (const std::string& name : names) {
        ports.push_back(Describe(name, devices, timers));
    }
    return ports;
}

std::string GroupNameOf(std::uint32_t gid) {
    return std::to_string(gid); // Windows grants ports to users, not to groups
}

// Windows names the port's device, not its driver.
const TPortSummaryLabels UkrainianPortLabels = {
    .PseudoTerminal = "псевдотермінал",
    .Driver = "пристрій",
    .SerialNumber = "серійний номер",
    .LatencyTimer = "таймер затримки",
    .Milliseconds = "мс",
};

std::string AccessReason(const TSerialPortInfo& info, const TPortUser&) {
    switch (info.Access) {
    case TPortAccess::Allowed:
        return {};
    case TPortAccess::NoDeviceNode:
        return "Система не знає пристрою " + info.DevicePath + ".";
    default:
        return "Система не дає відкрити пристрій" +
               (info.AccessError.empty() ? std::string(".") : ": " + info.AccessError + ".");
    }
}

std::string AccessFix(const TSerialPortInfo& info, const TPortUser&) {
    switch (info.Access) {
    case TPortAccess::Allowed:
        return {};
    case TPortAccess::NoDeviceNode:
        return ReconnectDeviceFix;
    default:
        return "Закрийте програму, що тримає порт, або зверніться до адміністратора "
               "комп'ютера.";
    }
}

const char* const LowerLatencyFix =
    "Зменшіть його до 1 мс: Диспетчер пристроїв, властивості порту, «Параметри порту», "
    "«Додатково», «Таймер затримки (мс)», потім під'єднайте адаптер знову.";
