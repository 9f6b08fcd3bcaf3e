// Port facts on Windows: the device names of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM and whether
// the system knows the port's device now.  Nothing is opened: on Windows whether another
// program holds a port shows only when it is opened (message 2), and opening a port would
// move its DTR and RTS lines.  The USB facts come from the devices' registry keys: an FTDI
// adapter's serial number, ids and latency timer from its FTDIBUS key, another USB adapter's
// (CDC ACM) serial number and ids from its USB key.  Maker and product names would need
// SetupAPI and are left empty.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cfgmgr32.h>

#include <map>
#include <string>
#include <vector>

#include "ComMessages.h"
#include "PortInfo.h"
#include "PortInfoWin32.h"
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

// What the registry says of a USB adapter's port.
struct TUsbFacts {
    std::string VendorId, ProductId, SerialNumber;
    int LatencyTimerMs = -1;
};

// A value of an open key as text; empty when it is missing or not text.
std::string TextValue(HKEY key, const char* name) {
    char text[256];
    DWORD size = sizeof text;
    DWORD type = 0;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return std::string(text, ::strnlen(text, size));
}

// The four hex digits after `tag` ("VID_", "PID_") in a device name, in lower case as the
// other systems give them.
std::string IdAfter(const std::string& device, const char* tag) {
    const std::size_t at = device.find(tag);
    if (at == std::string::npos || at + 4 + 4 > device.size()) {
        return {};
    }
    std::string id = device.substr(at + 4, 4);
    for (char& c : id) {
        c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    }
    return id;
}

// Calls `each(device, instance, parameters, presence)` for every instance of every device
// under HKLM\SYSTEM\CurrentControlSet\Enum\<bus> that has a "Device Parameters" key and is
// not known to be absent.
template <class F>
void ForEachInstance(const std::string& bus, TDevicePresenceQuery presence, F each) {
    const std::string root = "SYSTEM\\CurrentControlSet\\Enum\\" + bus;
    HKEY busKey = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, root.c_str(), 0, KEY_READ, &busKey) != ERROR_SUCCESS) {
        return;
    }
    for (const std::string& device : SubKeys(busKey)) {
        HKEY deviceKey = nullptr;
        if (::RegOpenKeyExA(busKey, device.c_str(), 0, KEY_READ, &deviceKey) != ERROR_SUCCESS) {
            continue;
        }
        for (const std::string& instance : SubKeys(deviceKey)) {
            const TDevicePresence present = presence(bus + "\\" + device + "\\" + instance);
            HKEY parameters = nullptr;
            if (present != TDevicePresence::Absent &&
                ::RegOpenKeyExA(deviceKey, (instance + "\\Device Parameters").c_str(), 0, KEY_READ,
                                &parameters) == ERROR_SUCCESS) {
                each(device, instance, parameters, present);
                ::RegCloseKey(parameters);
            }
        }
        ::RegCloseKey(deviceKey);
    }
    ::RegCloseKey(busKey);
}

// Port name -> its adapter's facts.  FTDI's driver names each device
// VID_0403+PID_6001+<serial number><port letter> under FTDIBUS and keeps the latency timer in
// its Device Parameters; another USB serial device is Enum\USB\VID_xxxx&PID_yyyy\<instance>,
// where the instance is the device's serial number when it has one (a made-up instance
// holds '&').
// Of two instances naming one port the first read stands, unless a later one is known to be
// present where the first was not.
std::map<std::string, TUsbFacts> UsbPorts(TDevicePresenceQuery presence) {
    std::map<std::string, TUsbFacts> ports;
    std::map<std::string, TDevicePresence> sure; // how sure each port's entry is
    const auto take = [&](const std::string& port, TDevicePresence present) -> TUsbFacts* {
        const auto earlier = sure.find(port);
        if (port.empty() ||
            (earlier != sure.end() && (earlier->second != TDevicePresence::Unknown ||
                                       present != TDevicePresence::Present))) {
            return nullptr;
        }
        sure[port] = present;
        return &(ports[port] = TUsbFacts{});
    };
    ForEachInstance("FTDIBUS", presence,
                    [&](const std::string& device, const std::string&, HKEY parameters,
                        TDevicePresence present) {
                        TUsbFacts* const taken = take(TextValue(parameters, "PortName"), present);
                        if (taken == nullptr) {
                            return;
                        }
                        TUsbFacts& facts = *taken;
                        facts.VendorId = IdAfter(device, "VID_");
                        facts.ProductId = IdAfter(device, "PID_");
                        const std::size_t plus = device.rfind('+');
                        if (plus != std::string::npos && device.size() > plus + 2) {
                            facts.SerialNumber = device.substr(plus + 1, device.size() - plus - 2);
                        }
                        DWORD latency = 0;
                        DWORD size = sizeof latency;
                        DWORD type = 0;
                        if (::RegQueryValueExA(parameters, "LatencyTimer", nullptr, &type,
                                               reinterpret_cast<BYTE*>(&latency),
                                               &size) == ERROR_SUCCESS &&
                            type == REG_DWORD && latency <= 255) {
                            facts.LatencyTimerMs = static_cast<int>(latency);
                        }
                    });
    ForEachInstance("USB", presence,
                    [&](const std::string& device, const std::string& instance, HKEY parameters,
                        TDevicePresence present) {
                        TUsbFacts* const taken = take(TextValue(parameters, "PortName"), present);
                        if (taken == nullptr) {
                            return;
                        }
                        TUsbFacts& facts = *taken;
                        facts.VendorId = IdAfter(device, "VID_");
                        facts.ProductId = IdAfter(device, "PID_");
                        if (instance.find('&') == std::string::npos) {
                            facts.SerialNumber = instance;
                        }
                    });
    return ports;
}

TSerialPortInfo Describe(const std::string& name, const std::map<std::string, std::string>& devices,
                         const std::map<std::string, TUsbFacts>& usb) {
    TSerialPortInfo info;
    info.Name = name;
    info.DevicePath = "\\\\.\\" + name;
    const auto device = devices.find(name);
    if (device != devices.end()) {
        info.Driver = device->second;
    }
    const auto facts = usb.find(name);
    if (facts != usb.end()) {
        info.VendorId = facts->second.VendorId;
        info.ProductId = facts->second.ProductId;
        info.SerialNumber = facts->second.SerialNumber;
        info.LatencyTimerMs = facts->second.LatencyTimerMs;
    }
    char target[1024];
    info.Access = !name.empty() && ::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0
                      ? TPortAccess::Allowed
                      : TPortAccess::NoDeviceNode;
    return info;
}

} // namespace

TDevicePresence SystemDevicePresence(const std::string& instanceId) {
    DEVINST node = 0;
    std::string id = instanceId;
    switch (::CM_Locate_DevNodeA(&node, id.data(), CM_LOCATE_DEVNODE_NORMAL)) {
    case CR_SUCCESS:
        return TDevicePresence::Present;
    case CR_NO_SUCH_DEVNODE:
        return TDevicePresence::Absent;
    default:
        return TDevicePresence::Unknown;
    }
}

TSerialPortInfo DescribeWin32Port(const std::string& name, TDevicePresenceQuery presence) {
    return Describe(name, DeviceNames(), UsbPorts(presence));
}

TPortUser CurrentPortUser() {
    TPortUser user;
    // In UTF-16: the ANSI code page (1251 on Windows 10 1809, which ignores the manifest's
    // UTF-8) would garble a Cyrillic name.
    wchar_t name[257];
    DWORD size = 257;
    if (::GetUserNameW(name, &size) && size > 1) {
        const int length = static_cast<int>(size - 1);
        const int n = ::WideCharToMultiByte(CP_UTF8, 0, name, length, nullptr, 0, nullptr, nullptr);
        if (n > 0) {
            user.Name.resize(static_cast<std::size_t>(n));
            ::WideCharToMultiByte(CP_UTF8, 0, name, length, user.Name.data(), n, nullptr, nullptr);
        }
    }
    return user;
}

TSerialPortInfo DescribeSerialPort(const std::string& name, const TPortPlaces&, const TPortUser&) {
    return DescribeWin32Port(name, SystemDevicePresence);
}

std::vector<TSerialPortInfo> DescribeSerialPorts(const TPortPlaces&, const TPortUser&) {
    std::vector<std::string> names;
    ListSerialPorts(names);
    const auto devices = DeviceNames();
    const auto usb = UsbPorts(SystemDevicePresence);
    std::vector<TSerialPortInfo> ports;
    ports.reserve(names.size());
    for (const std::string& name : names) {
        ports.push_back(Describe(name, devices, usb));
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
