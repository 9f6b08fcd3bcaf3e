#include "Options.h"

#include <array>
#include <string_view>

namespace {

// The rates of the baud-rate list, in the order of the TBaudRate members.
constexpr std::array<std::string_view, 15> Rates = {"110",   "300",   "600",    "1200",   "2400",
                                                    "4800",  "9600",  "14400",  "19200",  "38400",
                                                    "56000", "57600", "115200", "128000", "256000"};

int RateIndex(std::string_view text) {
    for (std::size_t i = 0; i < Rates.size(); ++i) {
        if (Rates[i] == text) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string RateList() {
    std::string list;
    for (const auto rate : Rates) {
        if (!list.empty()) {
            list += ", ";
        }
        list += rate;
    }
    return list;
}

TCliParse Accept(const TCliOptions& options) {
    TCliParse result;
    result.Ok = true;
    result.Options = options;
    return result;
}

TCliParse Only(TCliMode mode) {
    TCliOptions options;
    options.Mode = mode;
    return Accept(options);
}

TCliParse Refuse(std::string why) {
    TCliParse result;
    result.Error = std::move(why);
    return result;
}

} // namespace

TCliParse ParseCliOptions(const std::vector<std::string>& args) {
    for (const auto& arg : args) {
        if (arg == "--") {
            break;
        }
        if (arg == "--help" || arg == "-h") {
            return Only(TCliMode::Help);
        }
        if (arg == "--version") {
            return Only(TCliMode::Version);
        }
    }

    TCliOptions o;
    bool identify = false, list = false, station = false, baudGiven = false, hexGiven = false,
         logGiven = false;
    bool onlyPorts = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyPorts || arg.empty() || arg[0] != '-') {
            if (arg.empty()) {
                return Refuse("an empty port name");
            }
            o.Ports.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyPorts = true;
            continue;
        }
        // "--baud N" and "--baud=N" alike.
        std::string name = arg, value;
        bool inlineValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        const bool takesValue = name == "--baud" || name == "--hex" || name == "--log";
        if (takesValue && !inlineValue) {
            if (i + 1 >= args.size()) {
                return Refuse(name + " needs a value");
            }
            value = args[++i];
        } else if (!takesValue && inlineValue) {
            return Refuse(name + " takes no value");
        }

        if (name == "--baud") {
            if (baudGiven) {
                return Refuse("--baud given twice");
            }
            baudGiven = true;
            o.BaudIndex = RateIndex(value);
            if (o.BaudIndex < 0) {
                return Refuse("unknown rate '" + value + "'; the rates are " + RateList());
            }
        } else if (name == "--hex") {
            if (hexGiven) {
                return Refuse("--hex given twice");
            }
            if (value.empty()) {
                return Refuse("--hex needs a file name");
            }
            hexGiven = true;
            o.HexFile = value;
        } else if (name == "--log") {
            if (logGiven) {
                return Refuse("--log given twice");
            }
            if (value.empty()) {
                return Refuse("--log needs a file name");
            }
            logGiven = true;
            o.LogFile = value;
        } else if (name == "--station") {
            station = true;
        } else if (name == "--quiet") {
            o.Quiet = true;
        } else if (name == "--json") {
            o.Json = true;
        } else if (name == "--force") {
            o.Force = true;
        } else if (name == "--identify") {
            identify = true;
        } else if (name == "--list") {
            list = true;
        } else {
            return Refuse("unknown option '" + arg + "'");
        }
    }

    if (identify && list) {
        return Refuse("--identify and --list exclude each other");
    }
    if (station && (identify || list)) {
        return Refuse(std::string("--station and ") + (identify ? "--identify" : "--list") +
                      " exclude each other");
    }
    if (!station && (logGiven || o.Quiet)) {
        return Refuse(std::string(logGiven ? "--log" : "--quiet") + " belongs to --station");
    }
    if (station) {
        if (o.Force) {
            return Refuse("--station never skips the version gate: rewrite a unit with "
                          "tarvex6-flash --force PORT");
        }
        if (o.Ports.empty()) {
            return Refuse("no position given");
        }
        o.Mode = TCliMode::Station;
        return Accept(o);
    }
    if (list) {
        if (baudGiven || hexGiven || o.Force || !o.Ports.empty()) {
            return Refuse("--list takes only --json");
        }
        o.Mode = TCliMode::List;
        return Accept(o);
    }
    if (identify) {
        if (hexGiven || o.Force) {
            return Refuse("--identify writes nothing: --hex and --force do not apply");
        }
        o.Mode = TCliMode::Identify;
    }
    if (o.Ports.empty()) {
        return Refuse("no port given");
    }
    return Accept(o);
}

const char* CliUsageText() {
    return R"(Usage:
  tarvex6-flash [--baud N] [--hex FILE] [--json] [--force] PORT...
  tarvex6-flash --identify [--baud N] [--json] PORT...
  tarvex6-flash --station [--log FILE] [--baud N] [--hex FILE] [--json] [--quiet] POSITION...
  tarvex6-flash --list [--json]

Flashes the TARVEX-6 firmware into one or more instruments through their bootloader, each
port at the same time in a thread of its own, exactly as the window's "Прошити" does.

  PORT          a name as --list gives it (ttyUSB0, COM3) or a path (/dev/ttyUSB0, a link)
  --baud N      110 300 600 1200 2400 4800 9600 14400 19200 38400 56000 57600 115200
                128000 256000 (default 115200)
  --hex FILE    write this Intel HEX file instead of the built-in firmware
  --force       skip the version gate: rewrite the same or an older build (recovery)
  --identify    only identify: bootloader version, flash geometry, installed firmware
  --station     a service bench, until Ctrl+C: each POSITION waits for its port, probes it
                (wake-up and identify, once a second) and flashes each unit that answers as
                a bootloader, once; then it waits until the unit has gone
  POSITION      a port as above, which need not exist yet (on Linux a link in
                /dev/serial/by-path names a USB socket), or usb-serial:NUMBER, the port of
                the USB adapter with that serial number (see --list)
  --log FILE    --station: append one record per unit, FILE.csv (UTF-8 with a byte-order
                mark and a header row) or FILE.jsonl (one JSON object a line)
  --quiet       --station: no sound at each unit's end
  --list        the serial ports with driver, USB product, serial number and access
  --json        one JSON object per line on stdout: progress and one result per port
  --version     the program's version
  --help        this text

Ctrl+C stops every write at its next check; the instruments stay in their bootloader.
A station then prints its counts and exits with the largest code of its units (0 when each
was flashed or refused as already at the same or a newer version).  A unit the station
recorded is not written again while it stays connected: to retry one, disconnect it and
connect it again.  A unit cut off after the firmware's version block was written (about 94 %
of the built-in firmware's write) reports the new version with its last blocks erased, and
the version gate refuses it: rewrite it with tarvex6-flash --force PORT.

Exit codes (with several ports, the largest of all):
  0  flashed or identified
  1  bad usage
  2  firmware file refused
  3  no answer or unsupported bootloader
  4  refused by the version gate
  5  the write failed (too many failed tries)
  6  serial error (port missing, denied or lost)
  7  aborted by the user
)";
}
