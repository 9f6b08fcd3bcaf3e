#include "StationCore.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

#include "ComMessages.h"
#include "ResultText.h"
#include "StationProbe.h"
#include "SystemFacts.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How often a waiting position looks for its port: a unit connected is seen at once by a
// technician's measure, and a missing port costs one stat (or one list) each time.
constexpr auto WaitInterval = 250ms;
// How often an open port is probed.  A probe that finds nobody takes about 0.75 s (five
// wake-ups 50 ms apart, five identify tries 100 ms apart), so probing more often would
// keep the line busy without finding a unit sooner; once a second, a unit's bootloader is
// found within a second of answering, and a running instrument hears at most one burst of
// wake-ups a second.
constexpr auto ProbeInterval = 1000ms;
// Sleeps are cut into steps this long so that a stop is seen soon; a waiting station wakes
// no more often than it looks for its ports.
constexpr auto StopCheck = WaitInterval;
// The serial component's message for a device that opened but is no port it can use.
constexpr int MissingDeviceMessage = 10;

// Said of a unit that was left in its bootloader.
constexpr const char* ConnectAgain =
    "in the bootloader: disconnect it and connect it again to write it again";

bool SameOrNewerRefusal(const TPortResult& r) {
    return r.Outcome == "refused" &&
           std::any_of(r.Messages.begin(), r.Messages.end(), [](const std::string& m) {
               return m.find("Дана версія вже записана в прилад!") != std::string::npos ||
                      m.find("В прилад вже записана новіша версія!") != std::string::npos;
           });
}

// What a unit's end adds to the station's exit code.
int StationCode(const TPortResult& r) {
    return SameOrNewerRefusal(r) ? 0 : r.ExitCode;
}

struct TResolved {
    std::string Port;    // empty when there is none now
    std::string Problem; // why it cannot be used; empty when it can (or is simply missing)
};

class TStation {
public:
    TStation(const TStationSetup& setup, const TStationServices& services,
             TStationObserver& observer, TStationCounts& counts)
        : Setup(setup), Env(services), Log(setup.Log), Firmware(setup.Firmware), Reporter(observer),
          Counts(counts) {}

    int Run() {
        std::vector<std::thread> threads;
        threads.reserve(Setup.Positions.size());
        for (std::size_t i = 0; i < Setup.Positions.size(); ++i) {
            threads.emplace_back([this, i] { RunPosition(i); });
        }
        for (auto& t : threads) {
            t.join();
        }
        return Code;
    }

private:
    bool Stopped() const { return Env.Stop && Env.Stop(); }

    void Nap(Clock::duration length) const {
        const auto until = Clock::now() + length;
        while (!Stopped() && Clock::now() < until) {
            std::this_thread::sleep_for(std::min<Clock::duration>(StopCheck, until - Clock::now()));
        }
    }

    // The ports a usb-serial: position found, kept while the device folder is unchanged: a
    // waiting position looks four times a second, and a list of every port costs some
    // milliseconds, an adapter plugged or pulled changes the folder.
    struct TLookup {
        std::string Stamp;
        std::vector<std::string> Ports;
    };

    TResolved Resolve(const std::string& position, TLookup& lookup) const {
        if (position.rfind(UsbSerialPrefix, 0) != 0) {
            return {SystemFacts::PortOpenProblem(position) == 1 ? std::string() : position, {}};
        }
        const std::string stamp = SystemFacts::FolderStamp(Setup.Places.DevDir);
        if (stamp.empty() || stamp != lookup.Stamp) {
            lookup.Ports =
                PortsWithSerialNumber(position.substr(UsbSerialPrefix.size()), Setup.Places);
            lookup.Stamp = stamp;
        }
        const auto& ports = lookup.Ports;
        if (ports.size() > 1) {
            return {{}, "two ports have this serial number"};
        }
        return {ports.empty() ? std::string() : ports.front(), {}};
    }

    std::string UsbSerialNumberOf(const std::string& port) const {
        TPortPlaces quick = Setup.Places;
        quick.LookAtProcesses = false;
        try {
            const std::string identity = SystemFacts::PortIdentity(port);
            for (const auto& p : DescribeSerialPorts(quick, CurrentPortUser())) {
                if (SystemFacts::PortIdentity(SystemFacts::OpenableName(p.Name, p.DevicePath)) ==
                    identity) {
                    return p.SerialNumber;
                }
            }
        } catch (const EComPort&) {
            // No list of ports: the record goes without the number.
        }
        return {};
    }

    // Takes the device `identity` for position `index`; false with `holder` set when another
    // position has it (two names that lead to one adapter as adapters come and go).
    bool Claim(std::size_t index, const std::string& identity, std::string& holder) {
        const std::lock_guard guard(ClaimLock);
        for (const auto& [other, claimed] : Claims) {
            if (other != index && claimed == identity) {
                holder = Setup.Positions[other];
                return false;
            }
        }
        Claims[index] = identity;
        return true;
    }
    void Release(std::size_t index) {
        const std::lock_guard guard(ClaimLock);
        Claims.erase(index);
    }

    void RunPosition(std::size_t index) {
        const std::string& position = Setup.Positions[index];
        TPositionMachine machine;
        TStationProbe probe(Setup.BaudIndex, Env.MakePort);
        std::string port, note;
        // What the port led to when the present unit was found: another answer later is
        // another unit, whatever the port is called.
        std::string unitDevice;
        TLookup lookup;
        // Reports each change of state, and a new reason to wait once.  A unit's result
        // stays on its line until the unit has gone.
        const auto apply = [&](TPositionEvent event, const std::string& why = {}) {
            const bool changed = machine.On(event);
            if (machine.State() == TPositionState::Present) {
                if (changed) {
                    Report(index, machine.State(), port, note);
                }
            } else if (changed || why != note) {
                note = why;
                Report(index, machine.State(), port, note);
            }
        };
        const auto leave = [&](TPositionEvent event, const std::string& why = {}) {
            probe.Close();
            Release(index);
            apply(event, why);
        };

        Report(index, machine.State(), port, note);
        while (!Stopped()) {
            if (!probe.IsOpen()) {
                const TResolved found = Resolve(position, lookup);
                if (!found.Problem.empty()) {
                    leave(TPositionEvent::PortUnusable, found.Problem);
                    Nap(WaitInterval);
                    continue;
                }
                if (found.Port.empty()) {
                    port.clear();
                    leave(TPositionEvent::PortMissing);
                    Nap(WaitInterval);
                    continue;
                }
                port = found.Port;
                const std::string device = SystemFacts::DeviceInstance(port);
                if (machine.State() == TPositionState::Present && device != unitDevice) {
                    apply(TPositionEvent::DeviceChanged); // the unit went while the port was shut
                }
                std::string holder;
                if (!Claim(index, SystemFacts::PortIdentity(port), holder)) {
                    apply(TPositionEvent::PortUnusable, "the unit is at position " + holder);
                    Nap(WaitInterval);
                    continue;
                }
                try {
                    probe.Open(port);
                } catch (const EComPort& e) {
                    // Message 10 ("reopen the program") is what a COM port that is not there
                    // yet gives on some systems: for a station that is a port to wait for.
                    if (e.Number() == MissingDeviceMessage) {
                        leave(TPositionEvent::PortMissing);
                    } else {
                        leave(TPositionEvent::PortUnusable, e.what());
                    }
                    Nap(WaitInterval);
                    continue;
                } catch (const std::exception& e) {
                    leave(TPositionEvent::PortUnusable, e.what());
                    Nap(WaitInterval);
                    continue;
                }
                if (machine.State() != TPositionState::Present) {
                    unitDevice = device;
                }
                apply(TPositionEvent::PortOpened);
            }

            const auto began = Clock::now();
            TProbeAnswer answer = TProbeAnswer::Silent;
            try {
                answer = probe.Probe();
            } catch (const std::exception&) {
                leave(TPositionEvent::PortLost);
                Nap(WaitInterval);
                continue;
            }
            if (answer != TProbeAnswer::Answered) {
                apply(answer == TProbeAnswer::Heard ? TPositionEvent::Heard
                                                    : TPositionEvent::Silent);
                Nap(ProbeInterval - (Clock::now() - began));
                continue;
            }
            if (machine.State() != TPositionState::Probing) {
                apply(TPositionEvent::Answered); // the recorded unit is still there
                Nap(ProbeInterval - (Clock::now() - began));
                continue;
            }
            if (Stopped()) {
                break; // a unit that answers as the station stops is left as it is
            }
            // The flash opens the port itself, as a plain write does; the claim keeps the
            // station's other positions off it until the unit has gone.
            probe.Close();
            apply(TPositionEvent::Answered);
            bool portLost = false;
            note = FlashUnit(index, position, port, portLost);
            apply(TPositionEvent::UnitRecorded);
            if (portLost && SystemFacts::DeviceInstance(port).empty()) {
                // Lost with its port, and no device facts to tell whether a unit connected
                // now is another one: it is taken as a new unit.
                apply(TPositionEvent::DeviceChanged);
            }
        }
        probe.Close();
        Release(index);
    }

    // Runs the whole flash on `port` and records it; returns what the position's line
    // says until the unit has gone.
    std::string FlashUnit(std::size_t index, const std::string& position, const std::string& port,
                          bool& portLost) {
        TUnitRecord record;
        record.Time = IsoTimeNow();
        record.Position = position;
        record.Firmware = Firmware;

        // Read while the unit is there: a unit pulled in the write takes its port along.
        record.UsbSerialNumber = UsbSerialNumberOf(port);
        // The device a link leads to (a by-path link names a socket, not the adapter in it).
        const std::string device =
            position.rfind(UsbSerialPrefix, 0) == 0 ? port : SystemFacts::PortIdentity(port);
        record.Result = Env.RunUnit(port, [this, index](const TPortProgress& p) {
            const std::lock_guard guard(Lock);
            Reporter.Progress(index, p);
        });
        record.Result.Port = device;

        TPortResult& r = record.Result;
        portLost = r.Outcome == "serial-error";
        const long block = Firmware.VersionBlockAddress;
        if (r.Outcome != "flashed" && r.InBootloader && block >= 0 && r.Last.Bytes >= block + 10) {
            r.Messages.push_back(
                "The write passed the firmware's version block (0x" + Hex(block) +
                "): the unit may already report version " + Firmware.Version +
                " with its last blocks still erased, and the version gate would then refuse it "
                "as already written.  Rewrite it with: tarvex6-flash --force PORT");
        }
        if (r.InBootloader && r.Outcome != "flashed") {
            r.Messages.push_back(std::string("The unit stays ") + ConnectAgain + ".");
        }

        std::string error, notice;
        {
            const std::lock_guard guard(Lock);
            if (Log && !Log->Append(record, error, notice)) {
                r.Messages.push_back("NOT RECORDED: " + error);
            }
            if (!notice.empty()) {
                r.Messages.push_back(notice);
            }
            if (r.Outcome == "flashed") {
                ++Counts.Flashed;
            } else if (r.Outcome == "refused") {
                ++Counts.Refused;
            } else {
                ++Counts.Failed;
            }
            Code = std::max(Code, StationCode(r));
            Reporter.UnitRecorded(index, record, Counts);
        }
        if (Env.Sound) {
            Env.Sound(StationCode(r) == 0 ? 64 : 16);
        }
        std::string note = ResultText(r);
        if (r.InBootloader && r.Outcome != "flashed") {
            return note + "; " + ConnectAgain;
        }
        return note + "; disconnect it and connect the next unit";
    }

    static std::string Hex(long value) {
        char text[24];
        std::snprintf(text, sizeof text, "%04lX", value);
        return text;
    }

    // Reports a position's state; the observer's calls never overlap.
    void Report(std::size_t index, TPositionState state, const std::string& port,
                const std::string& note) {
        const std::lock_guard guard(Lock);
        Reporter.PositionChanged(index, state, port, note);
    }

    const TStationSetup& Setup;
    const TStationServices& Env;
    TRecordLog* Log;
    const TFirmwareFacts& Firmware;
    TStationObserver& Reporter;
    std::mutex Lock;
    std::mutex ClaimLock;
    std::map<std::size_t, std::string> Claims; // position -> the device identity it holds
    TStationCounts& Counts;
    int Code = 0;
};

} // namespace

std::string PositionProblem(const std::vector<std::string>& positions, const TPortPlaces& places) {
    std::map<std::string, std::string> seen;
    for (const auto& position : positions) {
        std::string identity;
        if (position.rfind(UsbSerialPrefix, 0) == 0) {
            const std::string number = position.substr(UsbSerialPrefix.size());
            if (number.empty()) {
                return "position " + position + " names no serial number";
            }
            const auto ports = PortsWithSerialNumber(number, places);
            if (ports.empty()) {
                return "position " + position + ": no port has the USB serial number " + number;
            }
            if (ports.size() > 1) {
                return "position " + position + ": " + std::to_string(ports.size()) +
                       " ports have the USB serial number " + number + " (" + ports[0] + ", " +
                       ports[1] + "); name the position by its port instead";
            }
            identity = SystemFacts::PortIdentity(ports.front());
        } else {
            if (const std::string why = SystemFacts::NotSerialDevice(position); !why.empty()) {
                return "position " + position + ": " + why;
            }
            identity = SystemFacts::PortIdentity(position);
        }
        const auto [it, fresh] = seen.emplace(identity, position);
        if (!fresh) {
            return it->second == position
                       ? "position " + position + " given twice"
                       : "position " + position + " given twice (it is " + it->second + ")";
        }
    }
    return {};
}

std::vector<std::string> PortsWithSerialNumber(const std::string& number,
                                               const TPortPlaces& places) {
    std::vector<std::string> ports, identities;
    // A waiting position asks four times a second: the USB facts alone, not who holds each
    // port (a pass over every process's open files), which only a busy port needs.
    TPortPlaces quick = places;
    quick.LookAtProcesses = false;
    try {
        for (const auto& p : DescribeSerialPorts(quick, CurrentPortUser())) {
            if (p.SerialNumber != number) {
                continue;
            }
            const std::string name = SystemFacts::OpenableName(p.Name, p.DevicePath);
            const std::string identity = SystemFacts::PortIdentity(name);
            if (std::find(identities.begin(), identities.end(), identity) == identities.end()) {
                identities.push_back(identity);
                ports.push_back(name);
            }
        }
    } catch (const EComPort&) {
        // No list of ports now: no port has the number.
    }
    return ports;
}

int RunStation(const TStationSetup& setup, const TStationServices& services,
               TStationObserver& observer, TStationCounts& counts) {
    TStation station(setup, services, observer, counts);
    return station.Run();
}
