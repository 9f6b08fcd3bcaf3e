// The service bench's core: positions that each flash a unit as it is connected, once, and
// record it.  It knows nothing of terminals, options or output forms: a front end (the
// command line's --station, later the window) gives it the positions, runs a unit's flash
// for it, and hears what happens through TStationObserver.
//
// Each position has its own thread, which loops: wait for its port, probe it, and when a
// bootloader answers run the whole flash (description, version gate, write, restart),
// record the unit, then wait until the unit has gone.  The station runs until it is told to
// stop and never stops on a unit's fault.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "BCPort.h"
#include "PortInfo.h"
#include "Progress.h"
#include "StationPosition.h"
#include "UnitRecord.h"

struct TStationCounts {
    int Flashed = 0;
    int Refused = 0; // by the version gate
    int Failed = 0;  // every other end
};

// What the station reports, from any position's thread; calls never overlap.
class TStationObserver {
public:
    virtual ~TStationObserver() = default;
    // A position's new state; `port` is what it resolved to (may be empty), `note` why it
    // waits or what became of its last unit (the unit's result, whole: it may have lines).
    virtual void PositionChanged(std::size_t index, TPositionState state, const std::string& port,
                                 const std::string& note) = 0;
    virtual void Progress(std::size_t index, const TPortProgress& progress) = 0;
    // A unit's record, after it was appended to the log (or not: its messages then say "NOT
    // RECORDED" and why).
    virtual void UnitRecorded(std::size_t index, const TUnitRecord& record,
                              const TStationCounts& counts) = 0;
};

// What the station reaches outside itself.
struct TStationServices {
    std::function<bool()> Stop;          // asked often; true ends the station
    std::function<void(unsigned)> Sound; // a unit's end: MB_ICONINFORMATION or MB_ICONHAND
    // Makes each serial component a position probes with; the machine's own when empty.
    std::function<std::unique_ptr<TBComPort>()> MakePort;
    // Runs one unit's whole flash on `port`, reporting its progress; never raises.  It must
    // end soon once Stop says so.
    std::function<TPortResult(const std::string& port,
                              const std::function<void(const TPortProgress&)>& progress)>
        RunUnit;
};

struct TStationSetup {
    std::vector<std::string> Positions; // port names, paths, or usb-serial:NUMBER
    int BaudIndex = 12;
    TPortPlaces Places; // where usb-serial: positions are looked up
    TFirmwareFacts Firmware;
    TRecordLog* Log = nullptr; // none: no records kept
};

// A position named by its adapter.
inline constexpr std::string_view UsbSerialPrefix = "usb-serial:";

// The ports whose USB serial number is `number`, by the name the component opens; two
// names of one device count once.
std::vector<std::string> PortsWithSerialNumber(const std::string& number,
                                               const TPortPlaces& places);

// Positions given twice (also two names of one device), usb-serial: numbers with no or two
// ports, a position that is no serial device: why the station must not start, or empty.
std::string PositionProblem(const std::vector<std::string>& positions, const TPortPlaces& places);

// Runs the station until services.Stop; returns the exit code: the largest of the units'
// outcomes, where a refusal of the same or a newer version counts 0.
int RunStation(const TStationSetup& setup, const TStationServices& services,
               TStationObserver& observer, TStationCounts& counts);
