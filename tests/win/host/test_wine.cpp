// The Windows programs of the cross build, run under Wine against a live peer behind the
// mapped COM port: the instrument simulator, or an echoing pseudo-terminal.  This side
// starts the peer where scripts/windows.sh mapped the port (a link that Wine's COM7 points
// to), runs the Windows program and checks its exit code and what the peer received.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "BuiltinFirmware.h"
#include "FlashImage.h"
#include "QuietHost.h"
#include "SimProcess.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string WinBuild = TARVEX_WIN_BUILD_DIR;
const std::string PortName = "COM7";
const std::string PortLink = WinBuild + "/ports/com7";

struct TRun {
    int ExitCode = -1;
    std::string Output;
};

// Runs a Windows program under Wine (tests/win/wine-run.sh) with the modem-line shim
// preloaded; gives up after `limit`.
TRun RunWindows(const std::vector<std::string>& args,
                std::chrono::seconds limit = std::chrono::seconds(120),
                const std::vector<std::string>& moreEnv = {}) {
    std::vector<std::string> words = {TARVEX_WINE_RUN};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        env.emplace_back(*e);
    }
    env.push_back(std::string("LD_PRELOAD=") + TARVEX_MODEM_SHIM);
    env.push_back("TARVEX_WIN_PORT=" + PortName);
    env.insert(env.end(), moreEnv.begin(), moreEnv.end());
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    TRun run;
    if (spawned != 0) {
        ::close(out[0]);
        return run;
    }
    // Wine's own services may inherit the pipe and keep it open: the program's end, not the
    // pipe's, ends the wait.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    bool ended = false;
    while (!ended) {
        ended = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!ended && std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            run.Output += "\n[killed after the time limit]";
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        while (::poll(&p, 1, ended ? 0 : 20) > 0 && (p.revents & POLLIN) != 0) {
            char buffer[4096];
            const ssize_t n = ::read(out[0], buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            run.Output.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(out[0]);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Runs a test program of the cross build under Wine.  On a new Wine prefix, Wine has been seen
// to end such a program with code 1 before it printed anything, GoogleTest's first line
// included; a program that was never under way is run once more.
TRun RunWindowsTests(const std::vector<std::string>& args,
                     std::chrono::seconds limit = std::chrono::seconds(120),
                     const std::vector<std::string>& moreEnv = {}) {
    TRun run = RunWindows(args, limit, moreEnv);
    if (run.ExitCode != 0 && run.Output.find("[==========]") == std::string::npos) {
        std::fprintf(stderr, "the test program printed nothing (exit code %d): once more\n",
                     run.ExitCode);
        run = RunWindows(args, limit, moreEnv);
    }
    return run;
}

std::string WinProgram(const std::string& relative) {
    return WinBuild + "/" + relative;
}

// A peer that sends back every byte it receives and keeps them, on a pty published at
// PortLink.
class TEchoPeer {
public:
    TEchoPeer() {
        if (::openpty(&Master, &Slave, nullptr, nullptr, nullptr) != 0) {
            return;
        }
        // The peer keeps its own slave descriptor open (never read): without one, the
        // master reports a hang-up at every poll until Wine opens the port.
        const std::string path = ::ttyname(Slave);
        fs::remove(PortLink);
        fs::create_symlink(path, PortLink);
        Thread = std::thread([this] { Run(); });
    }
    ~TEchoPeer() {
        Stopping = true;
        if (Thread.joinable()) {
            Thread.join();
        }
        fs::remove(PortLink);
        if (Master >= 0) {
            ::close(Master);
            ::close(Slave);
        }
    }
    TEchoPeer(const TEchoPeer&) = delete;
    TEchoPeer& operator=(const TEchoPeer&) = delete;

    bool Ready() const { return Master >= 0; }
    std::string Received() {
        Stopping = true;
        if (Thread.joinable()) {
            Thread.join();
        }
        return Got;
    }

private:
    void Run() {
        while (!Stopping) {
            pollfd p{Master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || (p.revents & POLLIN) == 0) {
                continue;
            }
            char buffer[512];
            const ssize_t n = ::read(Master, buffer, sizeof buffer);
            if (n <= 0) {
                continue;
            }
            Got.append(buffer, static_cast<std::size_t>(n));
            ssize_t done = 0;
            while (done < n) {
                const ssize_t w =
                    ::write(Master, buffer + done, static_cast<std::size_t>(n - done));
                if (w <= 0) {
                    break;
                }
                done += w;
            }
        }
    }

    int Master = -1;
    int Slave = -1;
    std::atomic<bool> Stopping{false};
    std::string Got;
    std::thread Thread;
};

std::vector<std::string> SimOptions(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--link", PortLink};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(Wine, ComponentAgainstTheSimulator) {
    TSimProcess sim(SimOptions());
    const TRun run = RunWindowsTests(
        {WinProgram("tests/win/win_port_tests.exe"), "--gtest_filter=WinSim.*:*/WinSimEvents.*"});
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_NE(run.Output.find("[  PASSED  ] 7 tests."), std::string::npos) << run.Output;
    sim.Stop();
    // The identify frame arrived as sent, once from the exchange and once under each
    // delivery method; nothing else was a frame.
    EXPECT_EQ(sim.ReceivedFrames(), std::vector<std::string>(4, "g0202;")) << sim.Transcript();
}

TEST(Wine, AllByteValuesBothWays) {
    TEchoPeer peer;
    ASSERT_TRUE(peer.Ready());
    const TRun run = RunWindowsTests({WinProgram("tests/win/win_port_tests.exe"),
                                      "--gtest_filter=WinEcho.AllByteValuesBothWays"});
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_NE(run.Output.find("[  PASSED  ] 1 test."), std::string::npos) << run.Output;
    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = static_cast<char>(i);
    }
    const std::string got = peer.Received();
    EXPECT_TRUE(got == all) << "the peer received " << got.size() << " bytes";
}

TEST(Wine, QueuedBytesAreDiscardedAtClose) {
    TEchoPeer peer;
    ASSERT_TRUE(peer.Ready());
    const TRun run = RunWindowsTests({WinProgram("tests/win/win_port_tests.exe"),
                                      "--gtest_filter=WinEcho.QueuedBytesAreDiscardedAtClose"});
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_NE(run.Output.find("[  PASSED  ] 1 test."), std::string::npos) << run.Output;
    EXPECT_EQ(peer.Received(), "0123456789");
}

TEST(Wine, ModemLineChangesThroughTheShim) {
    TEchoPeer peer;
    ASSERT_TRUE(peer.Ready());
    const std::string lines = WinBuild + "/ports/lines";
    const TRun run =
        RunWindowsTests({WinProgram("tests/win/win_port_tests.exe"), "--gtest_filter=WinLines.*"},
                        std::chrono::seconds(120), {"TARVEX_FAKE_MODEM_LINES=" + lines});
    fs::remove(lines);
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_NE(run.Output.find("[  PASSED  ] 1 test."), std::string::npos) << run.Output;
}

// The first `count` bytes of the image the window builds from the built-in firmware.
std::string BuiltinImageBytes(std::size_t count) {
    TQuietHost host;
    TProgramState state;
    host.Terminal.SetText(std::string(BuiltinFirmwareText()));
    if (!PrepareFlashImage(host, state)) {
        return {};
    }
    const std::string hex = state.FlashImage.substr(0, 2 * count);
    std::string bytes;
    for (std::size_t a = 0; a < count; ++a) {
        bytes += static_cast<char>(std::stoi(hex.substr(2 * a, 2), nullptr, 16));
    }
    return bytes;
}

// Prints and records a write's time beside its line-rate bound: every byte that crossed the
// line at 115200, 10 bits each.
void ReportWriteTime(const char* what, double seconds, const TSimProcess& sim) {
    const double bound =
        static_cast<double>(sim.SummaryCount("bytes received") + sim.SummaryCount("bytes sent")) *
        10.0 / 115200.0;
    std::printf("%s: %.1f s, line-rate bound %.1f s, ratio %.2fx\n", what, seconds, bound,
                seconds / bound);
    ::testing::Test::RecordProperty("seconds", std::to_string(seconds));
    ::testing::Test::RecordProperty("ratio_to_line_rate_bound", std::to_string(seconds / bound));
}

TEST(Wine, FlashCommandWritesTheBuiltInFirmware) {
    TSimProcess sim(SimOptions()); // 64 KiB: 1024 units of one 64-byte block, reports 241003
    const auto start = std::chrono::steady_clock::now();
    const TRun run = RunWindows({WinProgram("cli/tarvex6-flash.exe"), "--json", PortName},
                                std::chrono::seconds(600));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.ExitCode, 0) << run.Output.substr(
        run.Output.size() > 2000 ? run.Output.size() - 2000 : 0);
    EXPECT_NE(run.Output.find("\"outcome\":\"flashed\""), std::string::npos);
    sim.Stop();
    EXPECT_EQ(sim.SummaryCount("resets"), 2);
    const std::string flash = sim.Flash();
    ASSERT_EQ(flash.size(), 65536u);
    EXPECT_TRUE(flash == BuiltinImageBytes(65536)) << "flash differs";

    ReportWriteTime("tarvex6-flash.exe under Wine", seconds, sim);
}

// The station on a COM port under Wine, through pulls: a unit flashed and then pulled while
// the position probes it (the probe's port cannot be closed in order), a unit pulled in the
// middle of its write, and a third unit on the same COM port.  Each must be probed anew,
// flashed or recorded as failed, once.
TEST(Wine, AStationPositionRecoversFromPulledUnits) {
    char pattern[] = "/tmp/tarvex-wine-station-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    const std::string log = dir + "/units.jsonl";
    TRun station;
    std::thread runner([&] {
        station = RunWindows({WinProgram("cli/tarvex6-flash.exe"), "--station", "--quiet", "--json",
                              "--log", "Z:" + log, PortName},
                             std::chrono::seconds(400));
    });
    const auto lines = [&] {
        std::ifstream in(log);
        std::vector<std::string> found;
        for (std::string line; std::getline(in, line);) {
            found.push_back(line);
        }
        return found;
    };
    // A record follows its unit's restart, or the pull that ended its write.
    const auto waitForRecords = [&](std::size_t n) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(150);
        while (lines().size() < n && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return lines().size() >= n;
    };
    // Geometry 1,16,8: the probe, the identification and 8 units of three frames, two restarts.
    const std::vector<std::vector<std::string>> units = {
        {"--unplug-after", "36"}, // flashed, then pulled while the station probes it
        {"--unplug-after", "9"},  // pulled after three units of its write
        {"--exit-after-reset"},
    };
    std::vector<std::string> flashes;
    bool ok = true;
    for (std::size_t i = 0; i < units.size() && ok; ++i) {
        std::vector<std::string> args = {"--geometry", "1,16,8"};
        args.insert(args.end(), units[i].begin(), units[i].end());
        TSimProcess unit(SimOptions(args));
        ok = waitForRecords(i + 1) && unit.WaitForExit(std::chrono::seconds(150));
        flashes.push_back(ok ? unit.Flash() : std::string());
    }
    RunWindows({"taskkill", "/F", "/IM", "tarvex6-flash.exe"}, std::chrono::seconds(60));
    runner.join();
    const auto records = lines();
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(ok) << station.Output;
    ASSERT_EQ(records.size(), 3u) << station.Output;
    const char* outcomes[] = {"flashed", "serial-error", "flashed"};
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NE(records[i].find(std::string("\"outcome\":\"") + outcomes[i] + "\""),
                  std::string::npos)
            << records[i];
    }
    EXPECT_TRUE(flashes[0] == BuiltinImageBytes(128)) << "first flash differs";
    EXPECT_TRUE(flashes[2] == BuiltinImageBytes(128)) << "third flash differs";
}

// tarvex6-flash on Windows 10 1809, whose ANSI code page stays 1251 whatever the manifest
// asks: the build without the manifest, under the 1251 of Wine's Ukrainian locale.  A
// Cyrillic --log path is created and a Cyrillic --hex path is opened: the file fails its
// checks (a checksum), so the station ends once it has read it.
TEST(Wine, CyrillicPathsReachTheFlasherWithoutTheUtf8CodePage) {
    const fs::path dir = fs::path(WinBuild) / fs::path(u8"шляхи");
    const fs::path hex = dir / fs::path(u8"прошивка.hex");
    const fs::path log = dir / fs::path(u8"журнал.csv");
    fs::create_directories(dir);
    fs::remove(log);
    {
        std::FILE* f = std::fopen(hex.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs(":0400000001020304F1\r\n:00000001FF\r\n", f); // the first sum is F2
        std::fclose(f);
    }
    const TRun run =
        RunWindows({WinProgram("tests/win/tarvex6-flash-ansi.exe"), "--station", "--log",
                    "Z:" + log.string(), "--hex", "Z:" + hex.string(), PortName});
    EXPECT_EQ(run.ExitCode, 2) << run.Output; // the firmware refused, after the log opened
    EXPECT_NE(run.Output.find("Помилка контрольної суми"), std::string::npos) << run.Output;
    EXPECT_EQ(run.Output.find("Cannot open file"), std::string::npos) << run.Output;
    EXPECT_TRUE(fs::exists(log)) << run.Output;
    fs::remove_all(dir);
}

TEST(Wine, WindowWritesTheBuiltInFirmware) {
    TSimProcess sim(SimOptions()); // 64 KiB: 1024 units of one 64-byte block, reports 241003
    const auto start = std::chrono::steady_clock::now();
    const TRun run =
        RunWindowsTests({WinProgram("tests/win/win_window_tests.exe"),
                         "--gtest_filter=WinWindow.WritesTheBuiltInFirmwareThroughTheComPort"},
                        std::chrono::seconds(600), {"QT_QPA_PLATFORM=windows"});
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_NE(run.Output.find("[  PASSED  ] 1 test."), std::string::npos) << run.Output;
    sim.Stop();
    const auto frames = sim.ReceivedFrames();
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[frames.size() - 1], "g0101;");
    EXPECT_EQ(frames[frames.size() - 2], "g0101;");
    EXPECT_EQ(sim.SummaryCount("resets"), 2);
    const std::string flash = sim.Flash();
    ASSERT_EQ(flash.size(), 65536u);
    EXPECT_TRUE(flash == BuiltinImageBytes(65536)) << "flash differs";

    ReportWriteTime("the window under Wine", seconds, sim);
}

const std::string SetupName = "tarvex6-bootloader-" TARVEX_VERSION "-setup.exe";
const std::string UninstallKey =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TARVEX6Bootloader";

// The Windows version Wine reports to the installer ("win7", "win10"): the prefix's
// setting for that one program.
void ReportWindowsVersionToSetup(const char* version) {
    const TRun run = RunWindows({"reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\" + SetupName,
                                 "/v", "Version", "/d", version, "/f"});
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
}

// The window's keys as the keyboard gives them, through Wine's input queue.
TEST(Wine, KeysThatAnswerABoxStayWithTheBox) {
    const TRun run = RunWindowsTests(
        {WinProgram("tests/win/win_window_tests.exe"), "--gtest_filter=WinWindowKeys.*"},
        std::chrono::seconds(120), {"QT_QPA_PLATFORM=windows"});
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_NE(run.Output.find("[  PASSED  ] 1 test."), std::string::npos) << run.Output;
}

// The window at the display scalings Windows offers most (100, 125, 150 and 200 %), set as
// Windows keeps it: the desktop's LogPixels, which Wine reads at each program's start.  The
// window test checks that the window got the scale, and that every text fits its control.
TRun SetDesktopDpi(int dpi) {
    return RunWindows({"reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t",
                       "REG_DWORD", "/d", std::to_string(dpi), "/f"});
}

TEST(Wine, EveryTextFitsAtTheDisplayScalingsOfWindows) {
    struct TBackTo100 {
        ~TBackTo100() { SetDesktopDpi(96); }
    } back;
    for (const auto& [dpi, scale] :
         {std::pair{96, "1"}, std::pair{120, "1.25"}, std::pair{144, "1.5"}, std::pair{192, "2"}}) {
        SCOPED_TRACE(dpi);
        const TRun set = SetDesktopDpi(dpi);
        ASSERT_EQ(set.ExitCode, 0) << set.Output;
        const TRun run = RunWindowsTests(
            {WinProgram("tests/gui/gui_tests.exe"),
             "--gtest_filter=WindowTest.EveryTextFitsItsControl"},
            std::chrono::seconds(120),
            {"QT_QPA_PLATFORM=windows", std::string("TARVEX_EXPECT_SCALE=") + scale});
        EXPECT_EQ(run.ExitCode, 0) << run.Output;
        EXPECT_NE(run.Output.find("[  PASSED  ] 1 test."), std::string::npos) << run.Output;
    }
}

TEST(Wine, InstallerRefusesAWindowsBefore10Version1809) {
    const std::string setup = WinBuild + "/" + SetupName;
    ASSERT_TRUE(fs::exists(setup)) << setup;
    const fs::path prefix = TARVEX_WINE_PREFIX;
    ReportWindowsVersionToSetup("win7");
    const TRun run = RunWindows({setup, "/S"});
    ReportWindowsVersionToSetup("win10");
    EXPECT_EQ(run.ExitCode, 3) << run.Output;
    EXPECT_FALSE(fs::exists(prefix / "drive_c/Program Files/TARVEX-6 Bootloader"));
    EXPECT_NE(RunWindows({"reg", "query", UninstallKey}).ExitCode, 0);
}

TEST(Wine, InstallerInstallsAndUninstalls) {
    const std::string setup = WinBuild + "/" + SetupName;
    ASSERT_TRUE(fs::exists(setup)) << setup;
    ReportWindowsVersionToSetup("win10"); // a new Wine 8 prefix says Windows 7
    const fs::path prefix = TARVEX_WINE_PREFIX;
    const fs::path installed = prefix / "drive_c/Program Files/TARVEX-6 Bootloader";
    const fs::path menu =
        prefix /
        "drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/TARVEX-6 Bootloader.lnk";
    const std::string& key = UninstallKey;

    TRun run = RunWindows({setup, "/S"});
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_TRUE(fs::exists(installed / "tarvex6-bootloader.exe"));
    EXPECT_TRUE(fs::exists(installed / "tarvex6-flash.exe"));
    EXPECT_TRUE(fs::exists(installed / "uninstall.exe"));
    EXPECT_TRUE(fs::exists(menu)) << menu;
    run = RunWindows({"reg", "query", key});
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    for (const char* value : {"DisplayName", "TARVEX-6 Bootloader", "DisplayVersion",
                              TARVEX_VERSION, "UninstallString", "uninstall.exe"}) {
        EXPECT_NE(run.Output.find(value), std::string::npos) << value << "\n" << run.Output;
    }
    // The installed command-line flasher runs from Program Files.
    run = RunWindows({(installed / "tarvex6-flash.exe").string(), "--version"});
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_NE(run.Output.find(TARVEX_VERSION), std::string::npos) << run.Output;

    // The uninstaller copies itself away and returns at once: its work is done when the
    // folder is gone (bounded wait).
    run = RunWindows({(installed / "uninstall.exe").string(), "/S"});
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (fs::exists(installed) && std::chrono::steady_clock::now() < deadline) {
        RunWindows({"cmd", "/c", "exit"}); // lets Wine finish the uninstaller's copy
    }
    EXPECT_FALSE(fs::exists(installed));
    EXPECT_FALSE(fs::exists(menu));
    EXPECT_NE(RunWindows({"reg", "query", key}).ExitCode, 0);
}

} // namespace
