// Who holds a serial port on Linux, and the services that take USB serial adapters: read
// from /proc, the UUCP lock folders, the udev database and udev's rules, all through
// TPortPlaces so that a made-up tree can stand in for the machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "PortInfo.h"

// The path with every link resolved; empty when it does not resolve.
std::string RealPath(const std::string& path);

// Up to `limit` bytes of a file that others may have made or replaced (a lock file, an entry
// of /proc, /sys or /run): opened without blocking and, unless `followLink`, without
// following a link in its last part; none when it is not a regular file or cannot be read.
// A FIFO, a device or a link planted in its place is never opened for reading.
std::optional<std::string> ReadPlantedFile(const std::string& path, std::size_t limit,
                                           bool followLink = false);

// The first line of a file (a sysfs attribute, a /proc entry), without trailing blanks; empty
// when unreadable.  Read as ReadPlantedFile reads, at most a page.
std::string FirstLine(const std::string& path);

enum class TPortHoldScan {
    Locks,     // live UUCP lock files and locks on the device (/proc/locks)
    Everything // the locks and every process that has the device open (as fuser does)
};

// The processes that hold the device at `devicePath` (a device node or a link to one), each
// once, in the order of their process ids; the process `ignorePid` (this one, by default) is
// left out.
std::vector<TPortHolder> FindPortHolders(const std::string& devicePath, TPortHoldScan scan,
                                         const TPortPlaces& places, std::int64_t ignorePid = -1);

// The UUCP lock files named after the device that hold nothing, in the order of the lock
// folders.
std::vector<TStaleLock> FindStaleLocks(const std::string& devicePath, const TPortPlaces& places);

// Whether `devicePath` is a pseudo-terminal's slave side (or a link to one).
bool IsPseudoTerminalDevice(const std::string& devicePath);

// Whether a process named ModemManager runs.
bool ModemManagerRuns(const TPortPlaces& places);

// Whether udev's database marks the device `majorMinor` ("188:0") for ModemManager to ignore.
bool ModemManagerIgnores(const TPortPlaces& places, const std::string& majorMinor);

// The brltty rules file in force that claims the USB identifiers `vendor`:`product` (four
// hex digits each); empty when none does.
std::string BrlttyRulesFor(const TPortPlaces& places, const std::string& vendor,
                           const std::string& product);

// The kernel log's last message that brltty took an interface of the USB device
// `usbDevice` ("1-1.2", its sysfs name), without the record's header; empty when none.
std::string BrlttyInKernelLog(const TPortPlaces& places, const std::string& usbDevice);
