// tarvex6-flash --station: a service bench that flashes each unit as it is connected.
//
// Each position has its own thread, which loops: wait for its port, probe it, and when a
// bootloader answers run the same whole flash as `tarvex6-flash PORT` (description, version
// gate, write, restart), record the unit, then wait until the unit has gone.  The station
// runs until it is told to stop (Ctrl+C) and never stops on a unit's fault.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BCPort.h"
#include "Options.h"
#include "PortInfo.h"
#include "Reporter.h"

// What a station reaches outside itself; the defaults are the machine's own.
struct TStationEnv {
    TPortPlaces Places;                  // where usb-serial: positions are looked up
    std::function<bool()> Stop;          // asked often; true ends the station (Ctrl+C)
    std::function<void(unsigned)> Sound; // the window's MessageBeep, unless --quiet
    // Makes each serial component a position probes with; the machine's own when empty.
    std::function<std::unique_ptr<TBComPort>()> MakePort;
    std::FILE* Out = stdout;
    std::FILE* Err = stderr;
};

// The machine's own: Ctrl+C, the window's sounds (none with --quiet), the real port facts.
TStationEnv DefaultStationEnv(bool quiet);

// A position named by its adapter.
inline constexpr std::string_view UsbSerialPrefix = "usb-serial:";

// The ports whose USB serial number is `number`, by the name the component opens; two
// names of one device count once.
std::vector<std::string> PortsWithSerialNumber(const std::string& number,
                                               const TPortPlaces& places);

// The whole station: refuses bad positions and an unusable log before any port is opened,
// prepares the firmware as a plain write does, then runs until env.Stop.  Returns the exit
// code: the largest of the units' outcomes, where a refusal of the same or a newer version
// counts 0.
int RunStationCommand(const TCliOptions& options, TReportForm form, const TStationEnv& env);
