// Windows port facts, for tests: the look-up of which device instances are present, behind a
// seam (Wine keeps no device tree to ask).  Windows only.
#pragma once

#include <string>

#include "PortInfo.h"

enum class TDevicePresence { Present, Absent, Unknown };

// Whether the device instance ("FTDIBUS\VID_0403+PID_6001+A1B2C3D4A\0000") is plugged in:
// the configuration manager's look-up of its device node without CM_LOCATE_DEVNODE_PHANTOM.
// Unknown when the configuration manager gives no answer.
using TDevicePresenceQuery = TDevicePresence (*)(const std::string& instanceId);
TDevicePresence SystemDevicePresence(const std::string& instanceId);

// DescribeSerialPort with the presence look-up given.  The registry keeps the device keys of
// adapters that were plugged in once, and two of them may name the same port: an instance
// known to be absent is passed over, and one known to be present wins over one whose
// presence is unknown.
TSerialPortInfo DescribeWin32Port(const std::string& name, TDevicePresenceQuery presence);
