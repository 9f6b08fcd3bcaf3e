// tarvex6-flash --station: the service bench's core (src/Station) driven from the command
// line, its positions, log and firmware from the options, its events on the terminal or as
// JSON lines.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>

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

// The whole station: refuses bad positions and an unusable log before any port is opened,
// prepares the firmware as a plain write does, then runs until env.Stop.  Returns the exit
// code: the largest of the units' outcomes, where a refusal of the same or a newer version
// counts 0.
int RunStationCommand(const TCliOptions& options, TReportForm form, const TStationEnv& env);
