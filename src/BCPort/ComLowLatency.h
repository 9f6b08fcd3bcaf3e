// Linux: the serial driver's low-latency mode.  A USB serial adapter holds received bytes
// until its latency timer runs out (16 ms by default on FTDI chips): every reply of the write
// would arrive that much late.  With ASYNC_LOW_LATENCY set the driver hands bytes on at
// once (the FTDI driver then runs its timer at 1 ms).  An ordinary user may set the flag.
// Drivers that have no such settings (a pseudo-terminal answers ENOTTY) or refuse the
// change leave the port as it was: that is no error.
#pragma once

#include <linux/serial.h>

#include <memory>

#include "ComOs.h"
#include "PortInfo.h"

// The two serial-settings requests, TIOCGSERIAL and TIOCSSERIAL; a seam for the tests.
using TSerialIoctl = int (*)(int fd, unsigned long request, serial_struct* settings);

// ::ioctl itself.
int SystemSerialIoctl(int fd, unsigned long request, serial_struct* settings);

// What opening the port changed, for closing it to undo.
struct TLowLatencyState {
    bool Raised = false; // the flag was clear and this port set it
};

// Asks the driver for low latency.
TLowLatencyState RaiseLowLatency(int fd, TSerialIoctl io = SystemSerialIoctl);

// Puts the flag back as it was before RaiseLowLatency, leaving every other setting as the
// driver has it now.
void RestoreLowLatency(int fd, const TLowLatencyState& state, TSerialIoctl io = SystemSerialIoctl);

// The Linux layer with its serial-settings requests made through `serialIoctl`
// (CreatePlatformComOs gives it SystemSerialIoctl), looking for the port's holders in
// `places` (the machine's own by default).
std::unique_ptr<TComOs> CreatePosixComOs(TSerialIoctl serialIoctl, TPortPlaces places = {});
