// Command line of the instrument simulator.
#pragma once

#include <optional>
#include <string>

enum class FaultKind { None, Erase, Write, Commit };

// The USB serial adapter between the instrument and the host, as far as it delays what the
// instrument sends (see the manual page for each model's rules).
enum class AdapterKind { Plain, Ftdi, CdcAcm };

struct SimOptions {
    // The bootloader as the identify and describe replies present it.
    int BlocksPerErase = 1;
    int BlockSize = 64;
    int EraseCount = 1024;
    std::string LoaderVersion = "02";
    std::string Description = "241003"; // the installed firmware's version stamp

    // The publication of the line.
    std::string LinkPath;

    // Device timing, milliseconds.
    int EraseMs = 0;
    int WriteMs = 0;
    int CommitMs = 0;
    int ReplyDelayMs = 0;

    // Replies handed over in one piece when their last byte would have arrived, as a USB
    // adapter hands over a short reply; otherwise byte by byte at the line's pace.
    bool WholeReplies = false;

    // The adapter model: plain (byte by byte), ftdi (62-byte packets, a latency timer of
    // FtdiLatencyMs, 1 ms with LowLatency as the driver's low-latency mode sets it), cdc-acm
    // (64-byte packets on 1 ms USB frames).
    AdapterKind Adapter = AdapterKind::Plain;
    int FtdiLatencyMs = 16;
    bool LowLatency = false;

    // Faults; 0 turns a counted fault off.
    bool NoAnswer = false;
    int DropEvery = 0;
    int LateMs = 0;
    int GarbageEvery = 0;
    bool Noise = false;
    unsigned Seed = 1;
    int UnplugAfter = 0;
    int FailErase = 0;
    int FailWrite = 0;
    int FailCommit = 0;
    FaultKind NeverAccept = FaultKind::None;

    // What is recorded, and when to stop.
    std::string FlashOut;
    std::string LogOut;
    bool ExitAfterReset = false;
};

struct ParsedOptions {
    std::optional<SimOptions> Options; // empty when the program should stop at once
    int ExitCode = 0;                  // for that case: 0 after --help, 2 after a bad argument
    std::string Message;               // what to print then (usage or error)
};

ParsedOptions ParseSimOptions(int argc, char** argv);

// Turns the escapes \n, \r, \t, \\, \0 and \xHH of a --describe text into their bytes.
std::string UnescapeText(const std::string& text);

const char* SimUsageText();
