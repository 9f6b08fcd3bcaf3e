// tarvex6-flash end to end: the real command, the real serial component on pseudo-terminals
// and the instrument simulator, judged by what the simulator received and recorded.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>

#include "BuiltinFirmware.h"
#include "CliProcess.h"
#include "FlashImage.h"
#include "MiniJson.h"
#include "PortHolderChild.h"
#include "QuietHost.h"
#include "Sha256.h"
#include "SimProcess.h"
#include "TerminalHost.h"

namespace {

using namespace std::chrono_literals;

const std::string HexFiles = TARVEX_HEX_FILES;

// The first 64 KiB of the image the window builds from a HEX text, as hex text.
std::string BuildImage(const std::string& text) {
    TQuietHost host;
    TProgramState state;
    host.Terminal.SetText(text);
    if (!PrepareFlashImage(host, state)) {
        throw std::runtime_error("the text did not build");
    }
    return state.FlashImage.substr(0, 2 * 65536);
}

const std::string& BuiltinImage() {
    static const std::string image = BuildImage(std::string(BuiltinFirmwareText()));
    return image;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// `count` bytes of a hex-text image from byte `first`.
std::string ImageBytes(const std::string& image, std::size_t first, std::size_t count) {
    std::string bytes;
    for (std::size_t a = first; a < first + count; ++a) {
        bytes += static_cast<char>(std::stoi(image.substr(2 * a, 2), nullptr, 16));
    }
    return bytes;
}

std::vector<TJson> JsonLines(const std::string& out) {
    std::vector<TJson> lines;
    std::size_t start = 0;
    while (start < out.size()) {
        const std::size_t end = out.find('\n', start);
        EXPECT_NE(end, std::string::npos) << "the last line has no end";
        const std::string line = out.substr(start, end - start);
        lines.push_back(TJsonReader::Parse(line)); // throws, failing the test, when not JSON
        start = end == std::string::npos ? out.size() : end + 1;
    }
    return lines;
}

// The result objects of a JSON stream, by port.
std::map<std::string, TJson> Results(const std::vector<TJson>& lines) {
    std::map<std::string, TJson> results;
    for (const auto& l : lines) {
        if (l["event"].String == "result") {
            EXPECT_TRUE(results.emplace(l["port"].String, l).second) << "two results for a port";
        }
    }
    return results;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

const char* const WriteNoAnswer =
    "Не визначино, для усунення причин:\r\n- прилад повинен бути включеним;\r\n- розвернути "
    "роз`єм програмування;\r\n- ввести пароль;\r\n- перевірити вибір немеру СОМ.";

// The rows a terminal shows after `out`, for the escapes the live lines use: cursor up and
// down by n rows, clear the row, carriage return, line feed.
std::vector<std::string> Screen(const std::string& out) {
    std::vector<std::string> rows(1);
    std::size_t row = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const char c = out[i];
        if (c == '\x1b' && i + 1 < out.size() && out[i + 1] == '[') {
            std::size_t end = i + 2;
            while (end < out.size() && std::isdigit(static_cast<unsigned char>(out[end]))) {
                ++end;
            }
            const std::size_t n = end > i + 2 ? std::stoul(out.substr(i + 2, end - i - 2)) : 1;
            const char command = end < out.size() ? out[end] : '?';
            if (command == 'A') {
                row = n > row ? 0 : row - n;
            } else if (command == 'B') {
                row += n;
            } else if (command == 'K') {
                rows[row].clear();
            } else {
                ADD_FAILURE() << "unexpected escape " << command;
            }
            rows.resize(std::max(rows.size(), row + 1));
            i = end;
        } else if (c == '\n') {
            rows.resize(std::max(rows.size(), ++row + 1));
        } else if (c != '\r') {
            rows[row] += c;
        }
    }
    while (!rows.empty() && rows.back().empty()) {
        rows.pop_back();
    }
    return rows;
}

// A temporary folder removed with the test.
struct TTempDir {
    std::string Path;
    TTempDir() {
        char pattern[] = "/tmp/tarvex-cli-XXXXXX";
        Path = mkdtemp(pattern);
    }
    ~TTempDir() { std::filesystem::remove_all(Path); }
};

} // namespace

// The written bytes as the engine moves the bars: between a unit's count on the gauge and
// the next unit's start, the block bar still shows the finished unit's blocks.
TEST(TerminalProgress, AFinishedUnitsBlocksCountOnce) {
    TProgramState state;
    state.FlashGeometry.EraseCount = 2;
    state.FlashGeometry.BlocksPerErase = 2;
    state.FlashGeometry.BlockSize = 64;
    TTerminalHost host(state, "ttyX", 0, nullptr, nullptr);
    host.SetStatusText("Йде запис! Заборонено переривати!");
    host.MainGauge().SetMaxValue(2);
    host.MainGauge().SetProgress(0);
    const auto bytes = [&] { return host.Snapshot().Bytes; };
    for (int unit = 0; unit < 2; ++unit) {
        host.SetBlockBarPosition(0);
        EXPECT_EQ(bytes(), unit * 128);
        host.StepBlockBar();
        host.StepBlockBar();
        EXPECT_EQ(bytes(), unit * 128 + 128);
        host.MainGauge().Advance(1);
        EXPECT_EQ(bytes(), unit * 128 + 128);
    }
    EXPECT_EQ(host.Snapshot().TotalBytes, 256);
}

TEST(FlashCommand, FlashesTheBuiltInFirmwareAndReportsInJson) {
    TSimProcess sim({}); // 64 KiB: 1024 units of one 64-byte block, reports 241003
    const TCliRun run = RunCli({"--json", sim.PtyPath()});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    sim.Stop();
    EXPECT_EQ(sim.Flash(), ImageBytes(BuiltinImage(), 0, 65536));
    EXPECT_EQ(sim.SummaryCount("resets"), 2);

    const auto lines = JsonLines(run.Out);
    ASSERT_GE(lines.size(), 2u);
    double lastElapsed = -1;
    std::int64_t lastBytes = 0;
    std::size_t progress = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const TJson& p = lines[i];
        ASSERT_EQ(p["event"].String, "progress") << i;
        EXPECT_EQ(p["port"].String, sim.PtyPath());
        const std::string phase = p["phase"].String;
        EXPECT_TRUE(phase == "identify" || phase == "erase" || phase == "write" ||
                    phase == "commit")
            << phase;
        // At most ten a second: the elapsed times, in milliseconds, lie 100 ms apart.
        EXPECT_GE(p["elapsed"].Number - lastElapsed, 0.099) << i;
        EXPECT_GE(p["bytes"].Int(), lastBytes) << i;
        EXPECT_LE(p["bytes"].Int(), 65536);
        EXPECT_EQ(p["pauses"].Array.size(), 3u);
        for (const char* key : {"unit", "units", "block", "blocks", "tries", "failed_tries",
                                "total_bytes", "percent"}) {
            EXPECT_EQ(p[key].Kind, TJson::TKind::Number) << key;
        }
        lastElapsed = p["elapsed"].Number;
        lastBytes = p["bytes"].Int();
        ++progress;
    }
    EXPECT_GE(progress, 2u);

    const TJson& r = lines.back();
    EXPECT_EQ(r["event"].String, "result");
    EXPECT_EQ(r["port"].String, sim.PtyPath());
    EXPECT_EQ(r["outcome"].String, "flashed");
    EXPECT_EQ(r["exit_code"].Int(), 0);
    EXPECT_EQ(r["installed_version"].String, "241003");
    EXPECT_EQ(r["geometry"]["loader_version"].String, "02");
    EXPECT_EQ(r["geometry"]["blocks_per_erase"].Int(), 1);
    EXPECT_EQ(r["geometry"]["block_size"].Int(), 64);
    EXPECT_EQ(r["geometry"]["erase_count"].Int(), 1024);
    EXPECT_EQ(r["bytes"].Int(), 65536);
    // Every frame is accepted once; everything else was a failed try.
    EXPECT_EQ(r["tries"].Int() - r["failed_tries"].Int(), 3 * 1024);
    EXPECT_FALSE(r["in_bootloader"].Bool);
    EXPECT_GE(r["seconds"].Number, lastElapsed);
    // At least the identification's fixed pauses: five wake-ups, one identify, one describe.
    EXPECT_GE(r["paused_seconds"].Number, 1.35);
    EXPECT_LT(r["paused_seconds"].Number, r["seconds"].Number);
    EXPECT_TRUE(Contains(r["message"].String, "Мікропрограма успішно завантажена в "));
}

TEST(FlashCommand, WritesARealToolchainsHexFile) {
    const std::string file = HexFiles + "/pic18f4550-mpasm-adc.hex";
    TSimProcess sim({"--geometry", "1,64,16", "--version", "000001"});
    const TCliRun run = RunCli({"--hex", file, sim.PtyPath()});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_TRUE(Contains(run.Out, sim.PtyPath() + "  flashed: 1.0 KiB")) << run.Out;
    sim.Stop();
    EXPECT_EQ(sim.Flash(), ImageBytes(BuildImage(ReadText(file)), 0, 1024));
}

TEST(FlashCommand, TheVersionGateRefusesUnlessForced) {
    struct TCase {
        const char* Installed;
        bool Force;
        int Exit;
        const char* Message; // on stderr for a refusal
    } cases[] = {
        {"241004", false, 4, "Дана версія вже записана в прилад!"},
        {"241005", false, 4, "В прилад вже записана новіша версія!"},
        {"24100", false, 4, "Невідомо що то є!"},
        {"241004", true, 0, nullptr},
        {"241005", true, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Installed) + (c.Force ? " --force" : ""));
        TSimProcess sim({"--geometry", "1,64,4", "--version", c.Installed});
        std::vector<std::string> args = {sim.PtyPath()};
        if (c.Force) {
            args.insert(args.begin(), "--force");
        }
        const TCliRun run = RunCli(args);
        EXPECT_EQ(run.ExitCode, c.Exit) << run.Out << run.Err;
        sim.Stop();
        // Refused or written, the instrument is restarted: two restart frames.
        EXPECT_EQ(sim.SummaryCount("resets"), 2);
        if (c.Message) {
            EXPECT_TRUE(Contains(run.Err, c.Message)) << run.Err;
            EXPECT_EQ(sim.SummaryCount("erases"), 0);
        } else {
            EXPECT_EQ(sim.Flash(), ImageBytes(BuiltinImage(), 0, 256));
        }
    }
}

TEST(FlashCommand, NoAnswerAndAnUnknownBootloaderEndWithThree) {
    struct TCase {
        std::vector<std::string> Sim;
        const char* Outcome;
        std::string Message;
        bool InBootloader;
    } cases[] = {
        {{"--no-answer"}, "no-answer", WriteNoAnswer, false},
        {{"--loader-version", "03"},
         "unsupported-loader",
         "03 - невідома версія завантажувача мікроконтролера",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Outcome);
        TSimProcess sim(c.Sim);
        const TCliRun run = RunCli({"--json", sim.PtyPath()});
        EXPECT_EQ(run.ExitCode, 3) << run.Err;
        const auto results = Results(JsonLines(run.Out));
        ASSERT_EQ(results.count(sim.PtyPath()), 1u);
        const TJson& r = results.at(sim.PtyPath());
        EXPECT_EQ(r["outcome"].String, c.Outcome);
        EXPECT_EQ(r["exit_code"].Int(), 3);
        EXPECT_EQ(r["message"].String, c.Message);
        EXPECT_EQ(r["in_bootloader"].Bool, c.InBootloader);
        sim.Stop();
        EXPECT_EQ(sim.SummaryCount("erases"), 0);
    }
}

TEST(FlashCommand, TheFourHundredthFailedTryStopsTheWriteWithItsAddress) {
    // Each frame is ignored 100 times: the first unit's erase, write and commit give 300
    // failed tries, the second unit's erase (at 0x40) the hundredth more.
    TSimProcess sim({"--geometry", "1,64,4", "--fail-erase", "100", "--fail-write", "100",
                     "--fail-commit", "100"});
    const TCliRun run = RunCli({"--json", sim.PtyPath()});
    EXPECT_EQ(run.ExitCode, 5) << run.Err;
    const auto results = Results(JsonLines(run.Out));
    ASSERT_EQ(results.count(sim.PtyPath()), 1u);
    const TJson& r = results.at(sim.PtyPath());
    EXPECT_EQ(r["outcome"].String, "write-failed");
    // The count is judged after each phase, so a try that a busy machine made late adds to it.
    EXPECT_GE(r["failed_tries"].Int(), 400);
    EXPECT_TRUE(r["in_bootloader"].Bool);
    ASSERT_EQ(r["messages"].Array.size(), 2u);
    EXPECT_EQ(r["messages"].Array[0].String,
              "                              \r\nПомилка очистки - 000040");
    EXPECT_TRUE(Contains(r["messages"].Array[1].String, "Увага!"));
    sim.Stop();
    EXPECT_EQ(sim.SummaryCount("resets"), 0);
}

TEST(FlashCommand, AVanishedDeviceIsASerialError) {
    TSimProcess sim({"--geometry", "1,16,4", "--unplug-after", "8"});
    const TCliRun run = RunCli({sim.PtyPath()});
    EXPECT_EQ(run.ExitCode, 6) << run.Out << run.Err;
    EXPECT_TRUE(Contains(run.Err, sim.PtyPath() + "  serial-error")) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "Необхідно повторно відкрити програму!")) << run.Err;
}

TEST(FlashCommand, IdentifyShowsWhatTheBootloaderReports) {
    TSimProcess sim({"--geometry", "4,32,7", "--version", "241003"});
    const TCliRun run = RunCli({"--identify", sim.PtyPath()});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_TRUE(Contains(run.Out, "identified: bootloader 02, 7 units of 4 x 32 bytes")) << run.Out;
    EXPECT_TRUE(Contains(run.Out, sim.PtyPath() + ": Визначино:\n" + sim.PtyPath() + ": 241003"))
        << run.Out;
    sim.Stop();
    // Identify (again only when a reply came late) and describe; nothing written.
    auto frames = sim.ReceivedFrames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back(), "g0303;");
    frames.pop_back();
    EXPECT_FALSE(frames.empty());
    EXPECT_EQ(std::count(frames.begin(), frames.end(), "g0202;"), static_cast<long>(frames.size()));
}

// A unit whose description clears the screen and retitles the terminal: the technician sees
// the sequence as text, and a JSON reader gets the unit's exact words, escaped.
TEST(FlashCommand, AUnitsDescriptionIsShownNeverObeyed) {
    const std::string words = "\x1b[2J\x1b]0;PWNED\x07\x7f";
    TSimProcess sim({"--describe", "\\x1b[2J\\x1b]0;PWNED\\x07\\x7f"});
    const TCliRun plain = RunCli({"--identify", sim.PtyPath()});
    EXPECT_EQ(plain.ExitCode, 0) << plain.Err;
    for (const std::string* out : {&plain.Out, &plain.Err}) {
        EXPECT_EQ(out->find_first_of("\x1b\x07\x7f"), std::string::npos) << *out;
    }
    EXPECT_TRUE(Contains(plain.Out, sim.PtyPath() + ": \\x1b[2J\\x1b]0;PWNED\\x07\\x7f\n"))
        << plain.Out;

    const TCliRun json = RunCli({"--identify", "--json", sim.PtyPath()});
    EXPECT_EQ(json.ExitCode, 0) << json.Err;
    EXPECT_EQ(json.Out.find_first_of("\x1b\x07\x7f"), std::string::npos) << json.Out;
    const auto events = JsonLines(json.Out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["installed_version"].String, words);
}

// Firmware "files" that are no files: refused at once with what they are, before any port is
// touched and without reading a byte.
TEST(FlashCommand, AFirmwareThatIsNoFileIsRefusedAtOnce) {
    TTempDir dir;
    const std::string fifo = dir.Path + "/fifo.hex";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    TSimProcess sim({});
    const struct {
        std::string Path;
        const char* Says;
    } cases[] = {
        {fifo, "It is a pipe (FIFO), not a file"},
        {"/dev/zero", "It is a device, not a file"},
        {"/dev/urandom", "It is a device, not a file"},
        {dir.Path, "Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        const TCliRun run = RunCli({"--hex", c.Path, sim.PtyPath()});
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_TRUE(Contains(run.Err, c.Says)) << run.Err;
    }
    sim.Stop();
    EXPECT_TRUE(sim.Received().empty());
}

TEST(FlashCommand, ABusyPortSaysWhoHoldsItAndNothingIsSent) {
    TSimProcess sim({});
    const HolderChild flasher(sim.PtyPath(), "tv6-other", THold::Flock);
    const TCliRun run = RunCli({"--identify", sim.PtyPath()});
    EXPECT_EQ(run.ExitCode, 6) << run.Out << run.Err;
    const std::string& port = sim.PtyPath();
    EXPECT_TRUE(Contains(run.Err, port + ": Порт зайнятий іншою програмою\n" + port +
                                      ": Порт тримає: tv6-other (процес " +
                                      std::to_string(flasher.Pid) + ", користувач "))
        << run.Err;
    sim.Stop();
    EXPECT_TRUE(sim.Received().empty());
}

TEST(FlashCommand, SeveralInstrumentsAtOnceEachGetTheirFlash) {
    // Three that take the firmware, and one that never answers: its failure stops none of
    // the others, and the exit code is the largest.
    std::vector<std::unique_ptr<TSimProcess>> sims;
    std::vector<std::string> args = {"--json"};
    for (int i = 0; i < 4; ++i) {
        sims.push_back(
            std::make_unique<TSimProcess>(i < 3 ? std::vector<std::string>{"--geometry", "4,64,64"}
                                                : std::vector<std::string>{"--no-answer"}));
        args.push_back(sims.back()->PtyPath());
    }
    const TCliRun run = RunCli(args);
    EXPECT_EQ(run.ExitCode, 3) << run.Err;
    const auto results = Results(JsonLines(run.Out));
    ASSERT_EQ(results.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        sims[i]->Stop();
        const TJson& r = results.at(sims[i]->PtyPath());
        if (i < 3) {
            EXPECT_EQ(r["outcome"].String, "flashed");
            EXPECT_EQ(sims[i]->Flash(), ImageBytes(BuiltinImage(), 0, 16384));
            EXPECT_EQ(sims[i]->SummaryCount("resets"), 2);
        } else {
            EXPECT_EQ(r["outcome"].String, "no-answer");
        }
    }
}

TEST(FlashCommand, BadInputIsRefusedBeforeAnyInstrumentIsTouched) {
    TTempDir dir;
    TSimProcess sim({});
    const std::string pty = sim.PtyPath();
    const std::string link = dir.Path + "/instrument";
    std::filesystem::create_symlink(pty, link);
    const std::string badSum = dir.Path + "/bad.hex";
    std::ofstream(badSum) << ":020000040000FA\r\n:0400000010EF00F00E\r\n:00000001FF\r\n";
    const std::string sRecords = dir.Path + "/srec.hex";
    std::ofstream(sRecords) << "S00600004844521B\r\nS1070000AABBCCDDEE\r\nS9030000FC\r\n";

    struct TCase {
        std::vector<std::string> Args;
        int Exit;
        std::string Says; // on stderr
    } cases[] = {
        {{"--baud", "9601", pty}, 1, "unknown rate '9601'"},
        {{pty, pty}, 1, "given twice"},
        {{pty, link}, 1, "given twice"},
        {{}, 1, "no port given"},
        {{"--identify", "--force", pty}, 1, "--force do not apply"},
        {{"--hex", dir.Path + "/missing.hex", pty}, 2, "missing.hex"},
        {{"--hex", badSum, pty}, 2, "Помилка контрольної суми у строці мікропрограми: 2!"},
        {{"--hex", sRecords, pty},
         2,
         "Немає жодного запису даних Intel HEX у файлі мікропрограми: srec.hex"},
        {{pty, dir.Path + "/ttyNONE"}, 6, "Спроба відкрити неіснуючий СОМ-порт"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Says);
        const TCliRun run = RunCli(c.Args);
        EXPECT_EQ(run.ExitCode, c.Exit);
        EXPECT_TRUE(Contains(run.Err, c.Says)) << run.Err;
        EXPECT_EQ(run.Out, "");
    }
    sim.Stop();
    EXPECT_EQ(sim.SummaryCount("bytes received"), 0);
}

TEST(FlashCommand, CtrlCStopsTheWriteAndLeavesTheInstrumentInItsBootloader) {
    TSimProcess sim({"--geometry", "1,64,128", "--write-ms", "20"});
    TCliProcess flash({"--json", sim.PtyPath()});
    // Ctrl+C once the write is under way: a progress event past the first unit.
    bool writing = false;
    while (const auto line = flash.NextLine(60s)) {
        const TJson event = TJsonReader::Parse(*line);
        if (event["event"].String == "progress" && event["unit"].Int() >= 1) {
            writing = true;
            break;
        }
    }
    ASSERT_TRUE(writing);
    flash.Interrupt();
    const TCliRun run = flash.Wait(60s);
    EXPECT_EQ(run.ExitCode, 7) << run.Err;
    const auto results = Results(JsonLines(run.Out));
    ASSERT_EQ(results.count(sim.PtyPath()), 1u);
    const TJson& r = results.at(sim.PtyPath());
    EXPECT_EQ(r["outcome"].String, "aborted");
    EXPECT_TRUE(r["in_bootloader"].Bool);
    EXPECT_TRUE(Contains(r["message"].String, "Прилад залишається в режимі завантажувача"));
    EXPECT_LT(r["bytes"].Int(), 128 * 64);
    sim.Stop();
    EXPECT_EQ(sim.SummaryCount("resets"), 0);
    EXPECT_LT(sim.SummaryCount("erases"), 128);
}

TEST(FlashCommand, OnATerminalEachPortKeepsOneLiveLine) {
    TSimProcess first({"--geometry", "1,64,16"}), second({"--geometry", "1,64,16"});
    const TCliRun run = RunCli({first.PtyPath(), second.PtyPath()}, std::chrono::minutes(4), true);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_TRUE(Contains(run.Out, "\x1b[2K")) << "not redrawn in place";
    const auto rows = Screen(run.Out);
    ASSERT_GE(rows.size(), 2u) << run.Out;
    EXPECT_EQ(rows[0].rfind(first.PtyPath() + "  flashed: 1.0 KiB in ", 0), 0u) << rows[0];
    EXPECT_EQ(rows[1].rfind(second.PtyPath() + "  flashed: 1.0 KiB in ", 0), 0u) << rows[1];
    // Then each port's messages, below the live lines.
    EXPECT_TRUE(Contains(rows[2], ": Мікропрограма успішно завантажена в ")) << rows[2];
}

TEST(FlashCommand, ListDescribesEachPortAndWhetherItMayBeOpened) {
    // A simulator published in /dev is listed as a port, like an adapter.
    const std::string name = "tarvex-cli-" + std::to_string(getpid());
    if (access("/dev", W_OK) != 0) {
        GTEST_SKIP() << "/dev is not writable here";
    }
    TSimProcess sim({"--link", "/dev/" + name});
    const TCliRun json = RunCli({"--list", "--json"});
    EXPECT_EQ(json.ExitCode, 0) << json.Err;
    bool found = false;
    for (const auto& port : JsonLines(json.Out)) {
        EXPECT_EQ(port["event"].String, "port");
        for (const char* key :
             {"port", "path", "driver", "product", "serial_number", "access", "reason", "fix"}) {
            EXPECT_EQ(port[key].Kind, TJson::TKind::String) << key;
        }
        EXPECT_EQ(port["may_open"].Bool, port["access"].String == "allowed");
        if (port["port"].String == name) {
            found = true;
            EXPECT_EQ(port["path"].String, "/dev/" + name);
            EXPECT_EQ(port["access"].String, "allowed");
        }
    }
    EXPECT_TRUE(found) << json.Out;
    const TCliRun plain = RunCli({"--list"});
    EXPECT_EQ(plain.ExitCode, 0);
    EXPECT_TRUE(Contains(plain.Out, name + "  /dev/" + name + "\n    pseudo-terminal /dev/pts/"))
        << plain.Out;
    // English labels; the program's Ukrainian texts only on lines of their own.
    std::istringstream lines(plain.Out);
    for (std::string line; std::getline(lines, line);) {
        const bool cyrillic =
            line.find("\xd0") != std::string::npos || line.find("\xd1") != std::string::npos;
        const bool latinWord = line.find("driver ") != std::string::npos ||
                               line.find("pseudo-terminal") != std::string::npos ||
                               line.find("serial number") != std::string::npos ||
                               line.find("opened") != std::string::npos;
        EXPECT_FALSE(cyrillic && latinWord) << line;
    }
}

namespace {

// The next JSON event of a running station that `match` accepts, the others skipped; none
// when the station ends or `limit` passes first.
std::optional<TJson> NextEvent(TCliProcess& station, const std::function<bool(const TJson&)>& match,
                               std::chrono::milliseconds limit = 120s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        const auto line = station.NextLine(std::max(left, 1ms));
        if (!line) {
            return std::nullopt;
        }
        TJson event = TJsonReader::Parse(*line);
        if (match(event)) {
            return event;
        }
    }
    return std::nullopt;
}

std::function<bool(const TJson&)> IsEvent(const std::string& name) {
    return [name](const TJson& e) { return e["event"].String == name; };
}

std::function<bool(const TJson&)> IsState(const std::string& state) {
    return [state](const TJson& e) {
        return e["event"].String == "position" && e["state"].String == state;
    };
}

std::vector<std::string> Lines(const std::string& text, const std::string& end) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t next = text.find(end, at);
        lines.push_back(text.substr(at, next == std::string::npos ? next : next - at));
        at = next == std::string::npos ? text.size() : next + end.size();
    }
    return lines;
}

// An Intel HEX text of `bytes` from address 0, 16 to a line.
std::string HexText(const std::string& bytes) {
    std::string text;
    char field[32];
    for (unsigned at = 0; at < bytes.size(); at += 16) {
        const auto n = static_cast<unsigned>(std::min<std::size_t>(16, bytes.size() - at));
        unsigned sum = n + ((at >> 8) & 0xFF) + (at & 0xFF);
        std::snprintf(field, sizeof field, ":%02X%04X00", n, at);
        text += field;
        for (std::size_t i = 0; i < n; ++i) {
            const auto b = static_cast<unsigned char>(bytes[at + i]);
            sum += b;
            std::snprintf(field, sizeof field, "%02X", b);
            text += field;
        }
        std::snprintf(field, sizeof field, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += field;
    }
    return text + ":00000001FF\r\n";
}

const std::regex IsoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)");

} // namespace

TEST(Station, AUnitConnectedLaterIsFlashedOnceAndTheNextAfterTheFirstHasGone) {
    TTempDir dir;
    const std::string position = dir.Path + "/bench-1", log = dir.Path + "/units.jsonl";
    TCliProcess station({"--station", "--quiet", "--json", "--log", log, position});
    ASSERT_TRUE(NextEvent(station, IsState("waiting")));

    // Each unit stays connected a moment after its restart, then goes.
    std::string firstFlash;
    std::vector<std::string> ports;
    {
        TSimProcess first({"--link", position, "--geometry", "1,64,16", "--exit-after-reset"});
        ports.push_back(first.PtyPath());
        const auto unit = NextEvent(station, IsEvent("unit"));
        ASSERT_TRUE(unit);
        EXPECT_EQ((*unit)["outcome"].String, "flashed");
        EXPECT_EQ((*unit)["installed_version"].String, "241003");
        ASSERT_TRUE(first.WaitForExit(60s));
        firstFlash = first.Flash();
    }
    // The next one at once, under the same name: the port that failed had lost its unit.
    {
        TSimProcess second({"--link", position, "--geometry", "2,32,8", "--version", "230101",
                            "--exit-after-reset"});
        ports.push_back(second.PtyPath());
        const auto unit = NextEvent(station, IsEvent("unit"));
        ASSERT_TRUE(unit);
        EXPECT_EQ((*unit)["outcome"].String, "flashed");
        EXPECT_EQ((*unit)["installed_version"].String, "230101");
        ASSERT_TRUE(second.WaitForExit(60s));
        EXPECT_EQ(second.Flash(), ImageBytes(BuiltinImage(), 0, 512));
    }
    ASSERT_TRUE(NextEvent(station, IsState("waiting")));
    station.Interrupt();
    const TCliRun run = station.Wait(60s);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    const auto events = JsonLines(run.Out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["event"].String, "counts");
    EXPECT_EQ(events.back()["flashed"].Int(), 2);
    EXPECT_EQ(firstFlash, ImageBytes(BuiltinImage(), 0, 1024));

    // One record per unit, each a whole JSON line.
    const auto records = JsonLines(ReadText(log));
    ASSERT_EQ(records.size(), 2u);
    const char* installed[] = {"241003", "230101"};
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        const TJson& r = records[i];
        EXPECT_EQ(r["event"].String, "unit");
        EXPECT_TRUE(std::regex_match(r["time"].String, IsoTime)) << r["time"].String;
        EXPECT_EQ(r["position"].String, position);
        EXPECT_EQ(r["port"].String, ports[i]); // the device the link led to
        EXPECT_EQ(r["outcome"].String, "flashed");
        EXPECT_EQ(r["exit_code"].Int(), 0);
        EXPECT_EQ(r["installed_version"].String, installed[i]);
        EXPECT_EQ(r["geometry"]["loader_version"].String, "02");
        EXPECT_EQ(r["firmware_version"].String, "241004");
        EXPECT_EQ(r["firmware_sha256"].String, Sha256Hex(ImageBytes(BuiltinImage(), 0, 65536)));
        EXPECT_EQ(r["tries"].Int() - r["failed_tries"].Int(), i == 0 ? 3 * 16 : 8 + 2 * 16);
        EXPECT_EQ(r["usb_serial_number"].Kind, TJson::TKind::String);
        EXPECT_EQ(r["pauses"].Array.size(), 3u);
    }
}

TEST(Station, AUnitAtTheVersionGivesOneRefusedRecordHoweverLongItStays) {
    TTempDir dir;
    const std::string position = dir.Path + "/bench-1", log = dir.Path + "/units.csv";
    TSimProcess unit({"--link", position, "--geometry", "1,64,16", "--version", "241004"});
    TCliProcess station({"--station", "--quiet", "--json", "--log", log, position});
    const auto refused = NextEvent(station, IsEvent("unit"));
    ASSERT_TRUE(refused);
    EXPECT_EQ((*refused)["outcome"].String, "refused");
    EXPECT_EQ((*refused)["message"].String, "Дана версія вже записана в прилад!");
    // It stays in its bootloader (the simulator does not leave it at a restart) and is
    // probed every second: no second record.
    EXPECT_FALSE(NextEvent(station, IsEvent("unit"), 5s));
    unit.Stop();
    ASSERT_TRUE(NextEvent(station, IsState("waiting")));
    station.Interrupt();
    const TCliRun run = station.Wait(60s);
    // Refused as already written: not a fault of the station.
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    const auto events = JsonLines(run.Out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["refused"].Int(), 1);

    EXPECT_EQ(unit.SummaryCount("erases"), 0);
    EXPECT_EQ(unit.SummaryCount("resets"), 2);
    // After the restart the station kept asking, with nothing but wake-ups and identify.
    const auto received = unit.Received();
    const auto reset = std::find(received.begin(), received.end(), "g0101;");
    ASSERT_NE(reset, received.end());
    long identifies = 0;
    for (auto it = reset; it != received.end(); ++it) {
        EXPECT_TRUE(*it == "ggggg" || *it == "g0202;" || *it == "g0101;") << *it;
        identifies += *it == "g0202;";
    }
    EXPECT_GE(identifies, 2);

    const std::string csv = ReadText(log);
    ASSERT_EQ(csv.rfind("\xEF\xBB\xBFtime,position,port,usb_serial_number,", 0), 0u) << csv;
    const auto rows = Lines(csv, "\r\n");
    ASSERT_EQ(rows.size(), 2u) << csv;
    EXPECT_TRUE(Contains(rows[1], ",\"=\"\"241004\"\"\",\"=\"\"241004\"\"\",")) << rows[1];
    EXPECT_TRUE(Contains(rows[1], ",refused,4,")) << rows[1];
    EXPECT_TRUE(Contains(rows[1], "Дана версія вже записана в прилад!")) << rows[1];
}

// A description that a spreadsheet would run as a formula lands in the CSV log as text.
TEST(Station, AUnitsFormulaIsDataInTheCsvLog) {
    TTempDir dir;
    const std::string position = dir.Path + "/bench-1", log = dir.Path + "/units.csv";
    TSimProcess unit({"--link", position, "--geometry", "1,64,16", "--describe",
                      "=HYPERLINK(\"http://x\",\"y\")\\x1b[2J"});
    TCliProcess station({"--station", "--quiet", "--json", "--log", log, position});
    ASSERT_TRUE(NextEvent(station, IsEvent("unit")));
    station.Interrupt();
    station.Wait(60s);
    const std::string csv = ReadText(log);
    const auto rows = Lines(csv, "\r\n");
    ASSERT_EQ(rows.size(), 2u) << csv;
    EXPECT_EQ(rows[1].find('\x1b'), std::string::npos) << rows[1];
    EXPECT_TRUE(Contains(rows[1], ",\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\\x1b[2J\","))
        << rows[1];
    EXPECT_FALSE(Contains(rows[1], ",=")) << rows[1];
}

TEST(Station, APulledUnitGivesAFailedRecordAndAKillLeavesOnlyWholeRecords) {
    TTempDir dir;
    const std::string position = dir.Path + "/bench-1", log = dir.Path + "/units.csv";
    // A firmware whose version block (at 0x40) is committed early in the write.
    std::string bytes(128, '\x12');
    bytes.replace(0x40, 12,
                  std::string("\x55\xAA\xAA\x55") + "241005" + std::string("\x02\x00", 2));
    const std::string hex = dir.Path + "/early-version.hex";
    std::ofstream(hex, std::ios::binary) << HexText(bytes);

    TCliProcess station({"--station", "--quiet", "--json", "--hex", hex, "--log", log, position});
    ASSERT_TRUE(NextEvent(station, IsState("waiting")));
    {
        // Pulled after the probe, the identification and six erase units.
        TSimProcess pulled({"--link", position, "--geometry", "1,16,8", "--unplug-after", "21"});
        const auto unit = NextEvent(station, IsEvent("unit"));
        ASSERT_TRUE(unit);
        EXPECT_EQ((*unit)["outcome"].String, "serial-error");
        EXPECT_EQ((*unit)["port"].String, pulled.PtyPath()); // the device, gone with the unit
        EXPECT_TRUE((*unit)["in_bootloader"].Bool);
        EXPECT_EQ((*unit)["firmware_version"].String, "241005");
        const std::string message = (*unit)["message"].String;
        EXPECT_TRUE(Contains(message, "connect it again to write it again")) << message;
        EXPECT_TRUE(Contains(message, "tarvex6-flash --force PORT")) << message;
        ASSERT_TRUE(pulled.WaitForExit(60s));
    }
    // The position waits again, and the next unit is written.
    ASSERT_TRUE(NextEvent(station, IsState("waiting")));
    TSimProcess next({"--link", position, "--geometry", "1,16,8", "--write-ms", "200"});
    ASSERT_TRUE(NextEvent(station, [](const TJson& e) {
        return e["event"].String == "progress" && e["unit"].Int() >= 1;
    }));
    station.Kill();
    station.Wait(60s);

    const std::string csv = ReadText(log);
    const auto rows = Lines(csv, "\r\n");
    ASSERT_EQ(rows.size(), 2u) << csv;
    EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n");
    EXPECT_TRUE(Contains(rows[1], ",serial-error,6,")) << rows[1];
}

TEST(Station, AUnitSwappedInAtOnceIsANewUnitAndASlowOneStaysOneUnit) {
    TTempDir dir;
    const std::string position = dir.Path + "/bench-1", log = dir.Path + "/units.jsonl";
    TCliProcess station({"--station", "--quiet", "--json", "--log", log, position});
    ASSERT_TRUE(NextEvent(station, IsState("waiting")));
    {
        // Pulled in its identification; the next unit is there as soon as it has gone.
        TSimProcess pulled({"--link", position, "--geometry", "1,16,8", "--unplug-after", "9"});
        ASSERT_TRUE(pulled.WaitForExit(60s));
    }
    // Slow: every answer comes 400 ms late, and it stays connected.
    TSimProcess slow({"--link", position, "--geometry", "1,16,8", "--reply-delay-ms", "400"});
    const auto first = NextEvent(station, IsEvent("unit"));
    ASSERT_TRUE(first);
    EXPECT_NE((*first)["outcome"].String, "flashed");
    const auto second = NextEvent(station, IsEvent("unit"));
    ASSERT_TRUE(second);
    EXPECT_EQ((*second)["port"].String, slow.PtyPath());
    // Probed every second for many seconds, and never taken for gone or for a new unit.
    EXPECT_FALSE(NextEvent(station, IsEvent("unit"), 12s));
    slow.Stop();
    station.Interrupt();
    const TCliRun run = station.Wait(60s);
    EXPECT_EQ(JsonLines(ReadText(log)).size(), 2u);
    EXPECT_EQ(run.ExitCode, 6) << run.Err;     // the pulled unit's serial error
    EXPECT_LE(slow.SummaryCount("resets"), 2); // one run's restart at most: never run twice
}

TEST(Station, TwoPositionsThatLeadToOneDeviceNeverShareItsUnit) {
    TTempDir dir;
    const std::string first = dir.Path + "/bench-1", second = dir.Path + "/bench-2";
    const std::string log = dir.Path + "/units.jsonl";
    TCliProcess station({"--station", "--quiet", "--json", "--log", log, first, second});
    ASSERT_TRUE(NextEvent(station, IsState("waiting")));
    // Both names come to lead to one adapter while the station runs.
    TSimProcess unit({"--link", first, "--geometry", "1,64,4", "--version", "241004"});
    std::filesystem::create_symlink(unit.PtyPath(), second);
    const auto held = NextEvent(station, [](const TJson& e) {
        return e["event"].String == "position" &&
               e["note"].String.find("the unit is at position ") != std::string::npos;
    });
    ASSERT_TRUE(held);
    ASSERT_TRUE(NextEvent(station, IsEvent("unit")));
    EXPECT_FALSE(NextEvent(station, IsEvent("unit"), 5s));
    unit.Stop();
    station.Interrupt();
    const TCliRun run = station.Wait(60s);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_FALSE(Contains(run.Out, "Порт зайнятий")) << run.Out;
    const auto records = JsonLines(ReadText(log));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["outcome"].String, "refused");
    EXPECT_EQ(unit.SummaryCount("resets"), 2); // one unit, one run
}

TEST(Station, SigtermAndSighupStopAWriteAsCtrlCDoesWithItsRecord) {
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        TTempDir dir;
        const std::string position = dir.Path + "/bench-1", log = dir.Path + "/units.csv";
        TCliProcess station({"--station", "--quiet", "--json", "--log", log, position});
        TSimProcess unit({"--link", position, "--geometry", "1,16,8", "--write-ms", "200"});
        ASSERT_TRUE(NextEvent(station, [](const TJson& e) {
            return e["event"].String == "progress" && e["unit"].Int() >= 1;
        }));
        station.Signal(signal);
        const auto record = NextEvent(station, IsEvent("unit"));
        ASSERT_TRUE(record);
        EXPECT_EQ((*record)["outcome"].String, "aborted");
        const TCliRun run = station.Wait(60s);
        EXPECT_EQ(run.ExitCode, 7) << run.Err;
        const auto events = JsonLines(run.Out);
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back()["event"].String, "counts");
        const auto rows = Lines(ReadText(log), "\r\n");
        ASSERT_EQ(rows.size(), 2u); // the header and the record
        EXPECT_TRUE(Contains(rows[1], ",aborted,7,")) << rows[1];
    }
}

TEST(Station, AClosedOutputDoesNotEndTheStation) {
    TTempDir dir;
    const std::string position = dir.Path + "/bench-1", log = dir.Path + "/units.jsonl";
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        const std::string program = CliBinaryPath();
        ::execl(program.c_str(), program.c_str(), "--station", "--quiet", "--json", "--log",
                log.c_str(), position.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Nobody reads: every line the station prints meets a closed pipe.
    ::close(out[0]);
    ::close(out[1]);
    {
        TSimProcess unit({"--link", position, "--geometry", "1,64,4", "--exit-after-reset"});
        ASSERT_TRUE(unit.WaitForExit(60s));
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto records = JsonLines(ReadText(log));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["outcome"].String, "flashed");
}

TEST(Station, APositionThatIsNoSerialDeviceIsRefusedAtStart) {
    TTempDir dir;
    std::ofstream(dir.Path + "/file", std::ios::binary) << "x";
    for (const std::string& position : {dir.Path, dir.Path + "/file", std::string("/dev/null")}) {
        SCOPED_TRACE(position);
        const TCliRun run = RunCli({"--station", "--quiet", position}, 60s);
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_TRUE(Contains(run.Err, "not a serial device")) << run.Err;
        EXPECT_FALSE(Contains(run.Err + run.Out, "SetupComm")) << run.Err;
    }
}

TEST(Station, ABusyPortIsReportedOnceAndTakenWhenItIsFree) {
    TSimProcess unit({"--geometry", "1,64,4"});
    // The first station flashes the unit and keeps its port open while the unit stays.
    TCliProcess first({"--station", "--quiet", "--json", unit.PtyPath()});
    ASSERT_TRUE(NextEvent(first, IsState("present")));
    TCliProcess second({"--station", "--quiet", "--json", unit.PtyPath()});
    const auto busy = NextEvent(second, [](const TJson& e) {
        return e["event"].String == "position" && e["state"].String == "waiting" &&
               !e["note"].String.empty();
    });
    ASSERT_TRUE(busy);
    EXPECT_EQ((*busy)["state"].String, "waiting");
    EXPECT_EQ((*busy)["note"].String, "Порт зайнятий іншою програмою");
    first.Interrupt();
    EXPECT_EQ(first.Wait(60s).ExitCode, 0);
    // Free again: the second station, which kept looking, has a unit of its own.
    ASSERT_TRUE(NextEvent(second, IsEvent("unit")));
    second.Interrupt();
    const TCliRun run = second.Wait(60s);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    // Said once, though the port was tried four times a second.
    long said = 0;
    for (const auto& e : JsonLines(run.Out)) {
        said +=
            e["event"].String == "position" && e["note"].String == "Порт зайнятий іншою програмою";
    }
    EXPECT_EQ(said, 1);
}

TEST(Station, OnATerminalEachPositionKeepsALineAboveTheCounts) {
    TTempDir dir;
    const std::string first = dir.Path + "/bench-1", second = dir.Path + "/bench-2";
    TCliProcess station({"--station", "--quiet", first, second}, true);
    {
        TSimProcess unit({"--link", second, "--geometry", "1,64,4", "--exit-after-reset"});
        bool recorded = false;
        while (const auto line = station.NextLine(120s)) {
            if (Contains(*line, second + "  " + unit.PtyPath() + "  flashed: 0.2 KiB")) {
                recorded = true;
                break;
            }
        }
        ASSERT_TRUE(recorded);
        ASSERT_TRUE(unit.WaitForExit(60s));
    }
    station.Interrupt();
    const TCliRun run = station.Wait(60s);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_TRUE(Contains(run.Out, "\x1b[2K")) << "not redrawn in place";
    // The unit's record and messages scrolled above; the live block stayed at the bottom.
    const auto rows = Screen(run.Out);
    ASSERT_GE(rows.size(), 5u) << run.Out;
    const std::size_t n = rows.size();
    EXPECT_EQ(rows[n - 4], first + "  waiting for the port");
    EXPECT_EQ(rows[n - 3].rfind(second + "  ", 0), 0u) << rows[n - 3];
    EXPECT_EQ(rows[n - 2], "flashed 1  refused 0  failed 0");
    EXPECT_EQ(rows[n - 1], "Station stopped: flashed 1  refused 0  failed 0 (exit 0)");
    EXPECT_TRUE(std::regex_search(rows[0], IsoTime)) << rows[0];
    EXPECT_TRUE(Contains(rows[0], second + "  /dev/")) << rows[0];
    EXPECT_TRUE(Contains(rows[0], "  flashed: 0.2 KiB in ")) << rows[0];
    EXPECT_TRUE(Contains(rows[1], "Мікропрограма успішно завантажена в ")) << rows[1];
}

TEST(Station, BadInputIsRefusedBeforeAnyPortIsOpened) {
    TTempDir dir;
    TSimProcess sim({});
    const std::string pty = sim.PtyPath();
    const std::string link = dir.Path + "/bench-1";
    std::filesystem::create_symlink(pty, link);
    const std::string held = dir.Path + "/held.csv";
    TCliProcess holder({"--station", "--quiet", "--json", "--log", held, dir.Path + "/bench-9"});
    ASSERT_TRUE(NextEvent(holder, IsState("waiting")));

    struct TCase {
        std::vector<std::string> Args;
        std::string Says; // on stderr; the exit code is 1 in every case
    } cases[] = {
        {{"--log", dir.Path + "/no-folder/units.csv", pty}, "cannot write the log"},
        {{"--log", dir.Path + "/units.txt", pty}, "must end in .csv or .jsonl"},
        {{"--log", held, pty}, "held open by another station"},
        {{pty, pty}, "given twice"},
        {{pty, link}, "given twice"},
        {{"usb-serial:TARVEX-NO-SUCH-ADAPTER", pty}, "no port has the USB serial number"},
        {{"--identify", pty}, "--station and --identify exclude each other"},
        {{"--force", pty}, "--force PORT"},
        {{}, "no position given"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Says);
        std::vector<std::string> args = {"--station", "--quiet"};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        const TCliRun run = RunCli(args, 60s);
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_TRUE(Contains(run.Err, c.Says)) << run.Err;
        EXPECT_EQ(run.Out, "");
    }
    holder.Interrupt();
    EXPECT_EQ(holder.Wait(60s).ExitCode, 0);
    sim.Stop();
    EXPECT_EQ(sim.SummaryCount("bytes received"), 0);
}
