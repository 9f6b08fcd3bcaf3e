// The command line of tarvex6-flash.
//
//   tarvex6-flash [--baud N] [--hex FILE] [--json] [--force] PORT...
//   tarvex6-flash --identify [--baud N] [--json] PORT...
//   tarvex6-flash --station [--log FILE] [--baud N] [--hex FILE] [--json] [--quiet] POSITION...
//   tarvex6-flash --list [--json]
#pragma once

#include <string>
#include <vector>

enum class TCliMode { Flash, Identify, Station, List, Help, Version };

struct TCliOptions {
    TCliMode Mode = TCliMode::Flash;
    int BaudIndex = 12;  // ordinal of the rate in the baud-rate list; 12 = 115200
    std::string HexFile; // empty: the built-in firmware
    bool Json = false;
    bool Force = false;
    std::string LogFile; // --station: the file of unit records; empty: none
    bool Quiet = false;  // --station: no sound at each unit's end
    // As given: a list name or a path; with --station also usb-serial:NUMBER.
    std::vector<std::string> Ports;
};

struct TCliParse {
    bool Ok = false;
    TCliOptions Options;
    std::string Error; // why the command line was refused (exit code 1)
};

// Reads the arguments after the program name.  --help and --version win over everything
// else; otherwise every argument must be understood.  Ports given twice are left to the
// caller, which knows which names stand for the same device.
TCliParse ParseCliOptions(const std::vector<std::string>& args);

// The usage text of --help, with the exit codes.
const char* CliUsageText();

// Exit codes: with several ports, the largest of all.
enum TExitCode : int {
    exOk = 0,         // flashed or identified
    exUsage = 1,      // bad usage
    exHexRefused = 2, // firmware file refused
    exNoAnswer = 3,   // no answer or unsupported bootloader
    exGate = 4,       // refused by the version gate
    exWriteFailed = 5,
    exSerial = 6,  // port missing, denied or lost
    exAborted = 7, // Ctrl+C
};
