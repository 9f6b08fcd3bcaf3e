// Port facts on Windows: the device names of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM and whether
// the system knows the port's device now.  Nothing is opened: on Windows whether another
// program holds a port shows only when it is opened (message 2), and opening a port would
// move its DTR and RTS lines.  USB facts need SetupAPI and are left empty.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <map>

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

TSerialPortInfo Describe(const std::string& name,
                         const std::map<std::string, std::string>& devices) {
    TSerialPortInfo info;
    info.Name = name;
    info.DevicePath = "\\\\.\\" + name;
    const auto device = devices.find(name);
    if (device != devices.end()) {
        info.Driver = device->second;
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
    return Describe(name, DeviceNames());
}

std::vector<TSerialPortInfo> DescribeSerialPorts(const TPortPlaces&, const TPortUser&) {
    std::vector<std::string> names;
    ListSerialPorts(names);
    const auto devices = DeviceNames();
    std::vector<TSerialPortInfo> ports;
    ports.reserve(names.size());
    for (const std::string& name : names) {
        ports.push_back(Describe(name, devices));
    }
    return ports;
}

std::string GroupNameOf(std::uint32_t gid) {
    return std::to_string(gid); // Windows grants ports to users, not to groups
}

std::string PortSummary(const TSerialPortInfo& info) {
    std::string text = info.Driver.empty() ? std::string() : "пристрій " + info.Driver;
    const std::string usb = UsbDescription(info);
    if (!usb.empty()) {
        text += (text.empty() ? "" : ", ") + usb;
    }
    if (!info.SerialNumber.empty()) {
        text += (text.empty() ? "" : ", ") + std::string("серійний номер ") + info.SerialNumber;
    }
    if (info.LatencyTimerMs >= 0) {
        text += (text.empty() ? "" : ", ") + std::string("таймер затримки ") +
                std::to_string(info.LatencyTimerMs) + " мс";
    }
    return text;
}

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

std::string LatencyAdvice(const TSerialPortInfo& info) {
    if (info.LatencyTimerMs <= 1) {
        return {};
    }
    return "Таймер затримки адаптера " + std::to_string(info.LatencyTimerMs) +
           " мс може подовжити запис 64 КБ до " +
           std::to_string(LatencyCostSeconds(info.LatencyTimerMs)) +
           " с. Зменшіть його до 1 мс: Диспетчер пристроїв, властивості порту, «Параметри "
           "порту», «Додатково», «Таймер затримки (мс)», потім під'єднайте адаптер знову.";
}
