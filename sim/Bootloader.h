// The instrument's resident bootloader: judges one frame, acts on the flash, builds the reply.
// Line timing lives in Simulator; the faults that decide whether a frame is taken or a reply
// goes out live here, because they are decisions of the device.
#pragma once

#include "Options.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class Command { None, Reset, Identify, Describe, Erase, Write, Commit };

struct Outcome {
    Command command = Command::None; // None: bad sum, unknown code or too short
    bool performed = false;          // the device acted on the frame
    std::string reply;               // empty: nothing goes out
    std::string note;                // why there is no reply, or what went wrong
};

struct BootloaderCounts {
    long Frames = 0;
    long BadSums = 0;
    long Unknown = 0;
    long Erases = 0;
    long Writes = 0;
    long Commits = 0;
    long Resets = 0;
    long Identifies = 0;
    long Describes = 0;
    long Replies = 0;
    long Unanswered = 0; // valid frames that got no reply
};

class Bootloader {
public:
    explicit Bootloader(const SimOptions& options);

    Outcome Handle(std::string_view frame);

    const std::vector<std::uint8_t>& Flash() const { return flash_; }
    const BootloaderCounts& Counts() const { return counts_; }

    // Reply text: "g" + payload + the payload's sum + ";".
    static std::string MakeReply(const std::string& payload);

private:
    bool Perform(Command command, std::string_view args, Outcome& outcome);
    // The version stamp of the firmware in the flash, when one has been written there;
    // otherwise the describe reply gives the --version / --describe text.
    std::optional<std::string> InstalledVersion() const;
    std::string Corrupt(std::string reply);

    SimOptions options_;
    std::vector<std::uint8_t> flash_;
    long eraseAddress_ = 0;
    long stagedAddress_ = -1;
    std::vector<std::uint8_t> staged_;
    std::string lastFrame_;
    int repeats_ = 0; // how many times in a row lastFrame_ came in
    long taken_ = 0;  // frames acted on, for --drop
    BootloaderCounts counts_;
};
