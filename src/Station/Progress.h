// What tarvex6-flash reports about one port: progress while it runs and the result at its end.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ProgramState.h"

struct TPortProgress {
    std::string Phase;      // "identify", "erase", "write", "commit", "done"
    std::int64_t Unit = 0;  // erase units completed
    std::int64_t Units = 0; // EraseCount
    std::int64_t Block = 0; // blocks written in the present unit
    std::int64_t Blocks = 0;
    std::int64_t Tries = 0;
    std::int64_t FailedTries = 0;
    std::array<std::int64_t, 3> Pauses{}; // erase, write, commit (ms)
    std::int64_t Bytes = 0;               // written and accepted
    std::int64_t TotalBytes = 0;
    double Elapsed = 0;      // seconds since the port's run started
    double WriteElapsed = 0; // seconds since the first erase frame; 0 before it
    double Paused = 0;       // seconds spent in the protocol's pauses
    int IdentifyPercent = 0; // the step gauge of the identification
};

struct TPortResult {
    std::string Port;
    int ExitCode = 0;
    std::string Outcome; // flashed, identified, no-answer, unsupported-loader, refused,
                         // not-writable, write-failed, serial-error, aborted
    // The program's messages for this port, in order (UTF-8, lines separated by CR LF).
    std::vector<std::string> Messages;
    bool Identified = false;      // the identify reply was read: Geometry holds its fields
    std::string InstalledVersion; // the description the instrument gave
    TFlashGeometry Geometry;
    bool InBootloader = false; // left in the bootloader (no restart sent)
    TPortProgress Last;        // the figures at the end
};
