#include "Bootloader.h"

#include "HexSum.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr long AddressSpace = 1L << 24; // the erase address has six hex digits

// Value of the hex digits of `text`, or -1 when one is not a hex digit.
long HexValue(std::string_view text) {
    long value = 0;
    for (const char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0) {
            return -1;
        }
        value = value * 16 + digit;
    }
    return value;
}

std::string Hex(long value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*lX", digits, value);
    return buffer;
}

FaultKind KindOf(Command command) {
    switch (command) {
    case Command::Erase:
        return FaultKind::Erase;
    case Command::Write:
        return FaultKind::Write;
    case Command::Commit:
        return FaultKind::Commit;
    default:
        return FaultKind::None;
    }
}

} // namespace

Bootloader::Bootloader(const SimOptions& options) : options_(options) {
    long size = static_cast<long>(options.EraseCount) * options.BlocksPerErase * options.BlockSize;
    if (size == 0) {
        size = 64 * 1024;
    }
    // Never-written bytes stay 00 rather than a real chip's FF, so a block the host skipped
    // stands out in the dump against the FF of the image's holes.
    flash_.assign(static_cast<std::size_t>(std::min(size, AddressSpace)), 0x00);
}

std::string Bootloader::MakeReply(const std::string& payload) {
    return "g" + payload + SumHexBytes(payload) + ";";
}

Outcome Bootloader::Handle(std::string_view frame) {
    Outcome outcome;
    ++counts_.Frames;
    // frame is "g" + code + args + sum + ";"
    if (frame.size() < 6) {
        ++counts_.BadSums;
        outcome.note = "too short";
        return outcome;
    }
    const std::string_view payload = frame.substr(1, frame.size() - 4);
    const std::string_view sum = frame.substr(frame.size() - 3, 2);
    const std::string expected = SumHexBytes(payload);
    if (HexValue(sum) != HexValue(expected)) {
        ++counts_.BadSums;
        outcome.note = "bad sum, expected " + expected;
        return outcome;
    }
    static constexpr Command Codes[] = {Command::Reset, Command::Identify, Command::Describe,
                                        Command::Erase, Command::Write,    Command::Commit};
    const long code = HexValue(payload.substr(0, 2));
    if (code < 1 || code > 6) {
        ++counts_.Unknown;
        outcome.note = "unknown code";
        return outcome;
    }
    outcome.command = Codes[code - 1];

    // A retry repeats the frame it retries; any other frame in between starts a new count.
    repeats_ = frame == lastFrame_ ? repeats_ + 1 : 1;
    lastFrame_ = std::string(frame);

    const FaultKind kind = KindOf(outcome.command);
    const int failFirst = kind == FaultKind::Erase    ? options_.FailErase
                          : kind == FaultKind::Write  ? options_.FailWrite
                          : kind == FaultKind::Commit ? options_.FailCommit
                                                      : 0;
    if (options_.NoAnswer) {
        outcome.note = "deaf (--no-answer)";
    } else if (kind != FaultKind::None && kind == options_.NeverAccept) {
        outcome.note = "ignored (--never-accept)";
    } else if (repeats_ <= failFirst) {
        outcome.note = "ignored, try " + std::to_string(repeats_);
    } else if (Perform(outcome.command, payload.substr(2), outcome)) {
        outcome.performed = true;
        ++taken_;
        if (options_.DropEvery > 0 && taken_ % options_.DropEvery == 0) {
            outcome.reply.clear();
            outcome.note = "reply lost (--drop)";
        }
    }
    if (outcome.reply.empty()) {
        ++counts_.Unanswered;
        return outcome;
    }
    ++counts_.Replies;
    if (options_.GarbageEvery > 0 && counts_.Replies % options_.GarbageEvery == 0) {
        outcome.reply = Corrupt(std::move(outcome.reply));
        outcome.note = "corrupted (--garbage)";
    }
    return outcome;
}

bool Bootloader::Perform(Command command, std::string_view args, Outcome& outcome) {
    const long unitSize = static_cast<long>(options_.BlocksPerErase) * options_.BlockSize;
    switch (command) {
    case Command::Reset:
        // The application would start now; this loader stays listening so a host can
        // identify again without the simulator being restarted.
        ++counts_.Resets;
        outcome.reply = MakeReply("81");
        return true;
    case Command::Identify:
        ++counts_.Identifies;
        outcome.reply =
            MakeReply("82" + options_.LoaderVersion + "0000" + Hex(options_.BlocksPerErase, 2) +
                      Hex(options_.BlockSize, 2) + Hex(options_.EraseCount, 4));
        return true;
    case Command::Describe:
        ++counts_.Describes;
        outcome.reply = MakeReply("83" + InstalledVersion().value_or(options_.Description));
        return true;
    case Command::Erase: {
        const long address = args.size() == 6 ? HexValue(args) : -1;
        if (address < 0) {
            outcome.note = "erase needs six hex digits";
            return false;
        }
        eraseAddress_ = address;
        const auto begin = std::min(static_cast<std::size_t>(address), flash_.size());
        const auto end = std::min(static_cast<std::size_t>(address + unitSize), flash_.size());
        std::fill(flash_.begin() + static_cast<long>(begin),
                  flash_.begin() + static_cast<long>(end), 0x00);
        staged_.clear();
        stagedAddress_ = -1;
        ++counts_.Erases;
        outcome.reply = MakeReply("84");
        return true;
    }
    case Command::Write: {
        const long block = args.size() >= 2 ? HexValue(args.substr(0, 2)) : -1;
        const std::string_view data = args.size() >= 2 ? args.substr(2) : std::string_view{};
        if (block < 1 || block > options_.BlocksPerErase) {
            outcome.note = "block number out of range";
            return false;
        }
        if (data.size() != static_cast<std::size_t>(2 * options_.BlockSize)) {
            outcome.note = "data is not one block";
            return false;
        }
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < data.size(); i += 2) {
            const long byte = HexValue(data.substr(i, 2));
            if (byte < 0) {
                outcome.note = "data is not hex";
                return false;
            }
            bytes.push_back(static_cast<std::uint8_t>(byte));
        }
        staged_ = std::move(bytes);
        stagedAddress_ = eraseAddress_ + (block - 1) * options_.BlockSize;
        ++counts_.Writes;
        outcome.reply = MakeReply("85");
        return true;
    }
    case Command::Commit:
        if (!args.empty()) {
            outcome.note = "commit takes no arguments";
            return false;
        }
        if (stagedAddress_ >= 0) {
            for (std::size_t i = 0; i < staged_.size(); ++i) {
                const auto address = static_cast<std::size_t>(stagedAddress_) + i;
                if (address < flash_.size()) {
                    flash_[address] = staged_[i];
                }
            }
        }
        // The buffer stays staged: a commit retried after a lost reply writes the same bytes.
        ++counts_.Commits;
        outcome.reply = MakeReply("86");
        return true;
    case Command::None:
        break;
    }
    return false;
}

std::optional<std::string> Bootloader::InstalledVersion() const {
    // A firmware carries its version stamp behind the marker 55 AA AA 55 as six digits.
    static constexpr std::uint8_t Marker[] = {0x55, 0xAA, 0xAA, 0x55};
    constexpr std::size_t Digits = 6;
    auto at = flash_.begin();
    while (true) {
        at = std::search(at, flash_.end(), std::begin(Marker), std::end(Marker));
        if (at == flash_.end()) {
            return std::nullopt;
        }
        const auto stamp = at + std::size(Marker);
        if (flash_.end() - stamp >= static_cast<long>(Digits) &&
            std::all_of(stamp, stamp + Digits,
                        [](std::uint8_t b) { return b >= '0' && b <= '9'; })) {
            return std::string(stamp, stamp + Digits);
        }
        ++at;
    }
}

std::string Bootloader::Corrupt(std::string reply) {
    switch ((counts_.Replies / options_.GarbageEvery) % 3) {
    case 1:
        reply.pop_back(); // cut before the ";"
        break;
    case 2:
        reply[1] = '0'; // the request's code instead of the reply's
        break;
    default:
        reply[0] = 'G';
        break;
    }
    return reply;
}
