#include "Options.h"

#include "HexSum.h"

#include <charconv>
#include <functional>
#include <map>
#include <string_view>

namespace {

bool ParseInt(std::string_view text, int low, int high, int& out) {
    int value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc{} || ptr != end || value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

bool ParseGeometry(std::string_view text, SimOptions& options) {
    int fields[3] = {};
    for (int i = 0; i < 3; ++i) {
        const auto comma = text.find(',');
        if ((i < 2) == (comma == std::string_view::npos)) {
            return false;
        }
        const int high = i < 2 ? 255 : 65535; // what the identify reply's fields can carry
        if (!ParseInt(text.substr(0, comma), 0, high, fields[i])) {
            return false;
        }
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    }
    options.BlocksPerErase = fields[0];
    options.BlockSize = fields[1];
    options.EraseCount = fields[2];
    return true;
}

} // namespace

std::string UnescapeText(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        switch (c) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case '0':
            out += '\0';
            break;
        case 'x':
            if (i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
                HexDigitValue(text[i + 2]) >= 0) {
                out +=
                    static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
                i += 2;
            } else {
                out += "\\x";
            }
            break;
        default:
            out += c; // \\ and any other escaped character stand for themselves
        }
    }
    return out;
}

ParsedOptions ParseSimOptions(int argc, char** argv) {
    ParsedOptions result;
    SimOptions options;

    auto intOption = [](int& field, int low = 0, int high = 1'000'000) {
        return [&field, low, high](std::string_view v) { return ParseInt(v, low, high, field); };
    };
    auto textOption = [](std::string& field) {
        return [&field](std::string_view v) {
            field = std::string(v);
            return !field.empty();
        };
    };
    const std::map<std::string_view, std::function<bool(std::string_view)>, std::less<>> valued = {
        {"--geometry", [&](std::string_view v) { return ParseGeometry(v, options); }},
        {"--loader-version",
         [&](std::string_view v) {
             options.LoaderVersion = std::string(v);
             return v.size() == 2;
         }},
        {"--version", textOption(options.Description)},
        {"--describe",
         [&](std::string_view v) {
             options.Description = UnescapeText(std::string(v));
             return true;
         }},
        {"--link", textOption(options.LinkPath)},
        {"--erase-ms", intOption(options.EraseMs)},
        {"--write-ms", intOption(options.WriteMs)},
        {"--commit-ms", intOption(options.CommitMs)},
        {"--reply-delay-ms", intOption(options.ReplyDelayMs)},
        {"--drop", intOption(options.DropEvery, 1)},
        {"--late-ms", intOption(options.LateMs)},
        {"--garbage", intOption(options.GarbageEvery, 1)},
        {"--seed",
         [&](std::string_view v) {
             int seed = 0;
             const bool ok = ParseInt(v, 0, 1'000'000'000, seed);
             options.Seed = static_cast<unsigned>(seed);
             return ok;
         }},
        {"--unplug-after", intOption(options.UnplugAfter, 1)},
        {"--fail-erase", intOption(options.FailErase)},
        {"--fail-write", intOption(options.FailWrite)},
        {"--fail-commit", intOption(options.FailCommit)},
        {"--never-accept",
         [&](std::string_view v) {
             const std::map<std::string_view, FaultKind> kinds = {{"erase", FaultKind::Erase},
                                                                  {"write", FaultKind::Write},
                                                                  {"commit", FaultKind::Commit}};
             const auto it = kinds.find(v);
             options.NeverAccept = it == kinds.end() ? FaultKind::None : it->second;
             return it != kinds.end();
         }},
        {"--adapter",
         [&](std::string_view v) {
             const std::map<std::string_view, AdapterKind> kinds = {
                 {"plain", AdapterKind::Plain},
                 {"ftdi", AdapterKind::Ftdi},
                 {"cdc-acm", AdapterKind::CdcAcm}};
             const auto it = kinds.find(v);
             options.Adapter = it == kinds.end() ? AdapterKind::Plain : it->second;
             return it != kinds.end();
         }},
        {"--latency-ms", intOption(options.FtdiLatencyMs, 1)},
        {"--flash-out", textOption(options.FlashOut)},
        {"--log-out", textOption(options.LogOut)},
    };
    const std::map<std::string_view, bool*, std::less<>> flags = {
        {"--no-answer", &options.NoAnswer},
        {"--noise", &options.Noise},
        {"--exit-after-reset", &options.ExitAfterReset},
        {"--whole-replies", &options.WholeReplies},
        {"--low-latency", &options.LowLatency},
    };

    auto fail = [&](const std::string& message) {
        result.ExitCode = 2;
        result.Message = "tarvex6-sim: " + message + "\n(see --help)\n";
        return result;
    };

    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            result.Message = SimUsageText();
            return result;
        }
        std::string_view value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        if (const auto flag = flags.find(arg); flag != flags.end() && !hasValue) {
            *flag->second = true;
            continue;
        }
        const auto option = valued.find(arg);
        if (option == valued.end()) {
            return fail("unknown option " + std::string(argv[i]));
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                return fail("missing value for " + std::string(arg));
            }
            value = argv[++i];
        }
        if (!option->second(value)) {
            return fail("bad value for " + std::string(arg) + ": " + std::string(value));
        }
    }
    result.Options = options;
    return result;
}

const char* SimUsageText() {
    return R"(Usage: tarvex6-sim [options]
Plays the TARVEX-6 bootloader on a new pseudo-terminal and prints "READY <pty path>" first.

Instrument:
  --geometry BPE,BS,EC    blocks per erase, block size, erase count (default 1,64,1024)
  --loader-version XX     bootloader version in the identify reply (default 02)
  --version VVVVVV        installed firmware version, the describe text (default 241003),
                          until a firmware with a version block (55 AA AA 55 and six
                          digits) is written: then its digits
  --describe TEXT         raw describe text instead; \n \r \t \\ \0 \xHH are unescaped
  --link PATH             make PATH a symlink to the pty while running

Timing (the line itself is paced at the speed the host sets, 10 bits per byte):
  --erase-ms N  --write-ms N  --commit-ms N   processing time per command (default 0)
  --reply-delay-ms N      extra time before every reply (default 0)
  --whole-replies         hand each reply over in one piece when its last byte would have
                          arrived (as a USB adapter does), not byte by byte

USB serial adapter between the instrument and the host (what reaches the host, and when):
  --adapter plain         each byte when its stop bit arrives (the default)
  --adapter ftdi          62-byte packets; a packet goes when it is full or when the latency
                          timer has run out since its first byte arrived
  --latency-ms N          the FTDI latency timer (default 16)
  --low-latency           the timer at 1 ms, as the driver's low-latency mode sets it
  --adapter cdc-acm       64-byte packets on 1 ms USB frames: a byte goes at the next frame

Faults:
  --no-answer             never reply, act on nothing
  --drop N                the reply to every Nth accepted frame is lost
  --late-ms M             every reply goes out M ms late
  --garbage N             every Nth reply is corrupted (no ';', wrong code, 'G')
  --noise                 stray bytes on the line now and then (--seed N to vary)
  --unplug-after N        close the line after the Nth frame's reply, then exit
  --fail-erase N  --fail-write N  --fail-commit N
                          ignore the first N tries of each such frame
  --never-accept erase|write|commit   ignore every frame of that kind

Records:
  --flash-out FILE        flash content at exit (never-written bytes are 00)
  --log-out FILE          transcript with a summary of counts
  --exit-after-reset      exit about 0.3 s after the second restart command
SIGTERM and SIGINT end the run; both files are written and the link removed in every case.
)";
}
