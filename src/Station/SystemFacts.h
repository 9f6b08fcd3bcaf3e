// What the station and the command line ask of the operating system about ports, files and
// the clock: names and identities of devices, what a port's name leads to now, the user's
// number separators.  One file per system (SystemFactsPosix.cpp, SystemFactsWindows.cpp),
// chosen in CMake.
#pragma once

#include <ctime>
#include <string>

namespace SystemFacts {

// The user's list separator and decimal symbol, as a spreadsheet's CSV save takes them: the
// regional settings' own on Windows; on POSIX the environment's decimal symbol, with ";"
// as the list separator where the decimal symbol is a comma.  Never the same character.
void NumberSeparators(char& list, char& decimal);

// The calendar time `t` on the local clock and in UTC; false when the system cannot say.
bool BrokenDownTime(std::time_t t, std::tm& local, std::tm& utc);

// The name under which the serial component opens a port the port facts list: its device
// path where a path names it (POSIX), its list name elsewhere (COM3 on Windows).
std::string OpenableName(const std::string& listName, const std::string& devicePath);

// A text that is equal for two names of the same device ("ttyUSB0", "/dev/ttyUSB0" and a
// link to it; "com3" and "COM3"), so that a port given twice is found before any opening.
std::string PortIdentity(const std::string& port);

// What tells one device behind a port name from the next one under the same name (an
// adapter pulled and plugged again, another pseudo-terminal, another adapter at the same
// name): POSIX gives the device number and the node's inode and change time, since a device
// node made anew has a new change time; empty when the port is not there, or where the
// system offers nothing cheap to tell (Windows).
std::string DeviceInstance(const std::string& port);

// Why `port`, which exists, is no serial device at all (a folder, a regular file, a device
// of another kind such as /dev/null), or empty: a serial device, or not there now.
std::string NotSerialDevice(const std::string& port);

// A text that changes whenever an entry is added to or removed from `folder` (its inode and
// modification time), so that a list made from it can be kept until then; empty where the system has
// no such folder for its ports (Windows), and then nothing is kept.
std::string FolderStamp(const std::string& folder);

// 0 when the port's device is there and this user may open it for reading and writing;
// otherwise the number of the serial component's message that opening it would raise
// (1: it does not exist, 2: access denied).
int PortOpenProblem(const std::string& port);

} // namespace SystemFacts
