// tarvex6-sim as the flasher meets it: a child process, its pty opened raw at a real speed.
#include "HexSum.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string Frame(const std::string& payload) {
    return "g" + payload + SumHexBytes(payload) + ";";
}

// The simulator as a child; stdout is a pipe, whose end tells that the child has exited.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) {
        args.insert(args.begin(), TARVEX_SIM_PATH);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        int out[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        out_ = out[0];
        const std::string line = ReadOutput(5s);
        if (line.rfind("READY ", 0) == 0) {
            path_ = line.substr(6, line.find('\n') - 6);
        }
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
    }

    const std::string& Path() const { return path_; }

    // Output up to the first newline, or up to the end of the stream when the child exits.
    std::string ReadOutput(Clock::duration limit, bool toEnd = false) {
        std::string text;
        const auto deadline = Clock::now() + limit;
        char c = 0;
        while (Clock::now() < deadline) {
            pollfd fd{out_, POLLIN, 0};
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            if (read(out_, &c, 1) != 1) {
                ended_ = true;
                break;
            }
            text += c;
            if (c == '\n' && !toEnd) {
                break;
            }
        }
        return text;
    }

    // Waits for the child to end by itself; its exit status, or -1 when it did not.
    int WaitForExit(Clock::duration limit) {
        ReadOutput(limit, true);
        if (!ended_) {
            return -1;
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int Stop() {
        kill(pid_, SIGTERM);
        return WaitForExit(5s);
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool ended_ = false;
    std::string path_;
};

// The host's end: raw 8N1 at the given speed.
class HostPort {
public:
    HostPort(const std::string& path, speed_t speed) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(fd_, 0) << path << ": " << std::strerror(errno);
        termios settings{};
        tcgetattr(fd_, &settings);
        cfmakeraw(&settings);
        cfsetispeed(&settings, speed);
        cfsetospeed(&settings, speed);
        tcsetattr(fd_, TCSANOW, &settings);
        tcflush(fd_, TCIOFLUSH);
    }
    ~HostPort() { close(fd_); }

    void Send(const std::string& text) {
        ASSERT_EQ(write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    // Everything up to and including the first ";", or what came before the limit.
    std::string ReadReply(Clock::duration limit = 2s) {
        std::string text;
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline && (text.empty() || text.back() != ';')) {
            pollfd fd{fd_, POLLIN, 0};
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            char c = 0;
            if (read(fd_, &c, 1) != 1) {
                break; // the line is gone
            }
            text += c;
        }
        return text;
    }

    // Waits for the first bytes and takes all that are there at that moment.
    std::string ReadFirstPiece(Clock::duration limit = 2s) {
        pollfd fd{fd_, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(limit / 1ms)) != 1) {
            return {};
        }
        char buffer[512];
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }

    std::string Exchange(const std::string& frame) {
        Send(frame);
        return ReadReply();
    }

private:
    int fd_ = -1;
};

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "tarvex6-sim-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    fs::path operator/(const char* name) const { return path_ / name; }

private:
    fs::path path_;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

struct ExchangeCase {
    const char* name;
    std::vector<std::string> args;
    std::string send;
    std::string reply; // empty: none, proven by the describe reply coming first after it
};

} // namespace

TEST(SimFrames, RepliesAsTheBootloaderDoes) {
    const std::string describe = Frame("03");
    const ExchangeCase cases[] = {
        {"identify, defaults",
         {},
         "g0202;",
         Frame("820200000140"
               "0400")},
        {"identify, geometry and version",
         {"--geometry", "2,16,3", "--loader-version", "03"},
         "g0202;",
         Frame("82030000021000"
               "03")},
        {"wake-up then identify", {}, "gggggggggg0202;", Frame("8202000001400400")},
        {"bytes before the g are skipped", {}, "x1;\r\ng0202;", Frame("8202000001400400")},
        {"describe with --version", {"--version", "240917"}, "g0303;", Frame("83240917")},
        {"raw describe text", {"--describe", "AB\\nCD"}, "g0303;", Frame("83AB\nCD")},
        {"bad sum", {}, "g0203;", ""},
        {"unknown code", {}, "g0707;", ""},
        {"wake-up alone", {}, "ggggg", ""},
        {"erase without a full address", {}, Frame("040001"), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.args);
        ASSERT_FALSE(sim.Path().empty());
        HostPort port(sim.Path(), B115200);
        port.Send(c.send);
        if (c.reply.empty()) {
            const std::string next = port.Exchange(describe);
            EXPECT_EQ(next.substr(0, 3), "g83") << next;
        } else {
            EXPECT_EQ(port.ReadReply(), c.reply);
        }
        EXPECT_EQ(sim.Stop(), 0);
    }
}

TEST(SimFlash, EraseWriteCommitPlaceBlocksByGeometry) {
    TempDir dir;
    SimProcess sim({"--geometry", "2,16,3", "--flash-out", (dir / "flash.bin").string(),
                    "--log-out", (dir / "log.txt").string()});
    HostPort port(sim.Path(), B115200);
    auto block = [](char fill) { return std::string(32, fill); };
    const std::pair<std::string, std::string> steps[] = {
        {Frame("04000000"), Frame("84")},
        {Frame("0501" + block('1')), Frame("85")},
        {Frame("06"), Frame("86")},
        {Frame("0502" + block('2')), Frame("85")},
        {Frame("06"), Frame("86")},
        {Frame("04000040"), Frame("84")}, // the third unit; the second is never touched
        {Frame("0502" + block('3')), Frame("85")},
        {Frame("06"), Frame("86")},
        {Frame("0501" + block('4')), Frame("85")},  // staged, never committed
        {Frame("0503" + block('5')), ""},           // beyond the unit: refused
        {Frame("0501" + block('5').substr(2)), ""}, // one byte short: refused
    };
    for (const auto& [frame, reply] : steps) {
        SCOPED_TRACE(frame);
        port.Send(frame);
        if (!reply.empty()) {
            EXPECT_EQ(port.ReadReply(), reply);
        }
    }
    EXPECT_EQ(port.Exchange(Frame("03")).substr(0, 3), "g83"); // the refusals had no reply
    ASSERT_EQ(sim.Stop(), 0);

    std::string expected(3 * 2 * 16, '\0');
    expected.replace(0, 16, std::string(16, '\x11'));
    expected.replace(16, 16, std::string(16, '\x22'));
    expected.replace(64 + 16, 16, std::string(16, '\x33'));
    EXPECT_EQ(ReadFile(dir / "flash.bin"), expected);

    const std::string log = ReadFile(dir / "log.txt");
    for (const char* line : {"frames: 12\n", "erases: 2\n", "writes: 4\n", "commits: 3\n",
                             "bad sums: 0\n", "unanswered: 2\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "in\n" << log;
    }
    EXPECT_NE(log.find(" RX g0400004044;"), std::string::npos);
    EXPECT_NE(log.find(" TX g8484;"), std::string::npos);
}

TEST(SimFlash, DescribeGivesTheVersionBlockOnceOneIsWritten) {
    SimProcess sim({"--geometry", "1,16,2", "--version", "241003"});
    HostPort port(sim.Path(), B115200);
    const auto write = [&](const std::string& address, const std::string& block) {
        for (const std::string& payload : {"04" + address, "0501" + block, std::string("06")}) {
            port.Send(Frame(payload));
            ASSERT_EQ(port.ReadReply().substr(0, 3), "g8" + payload.substr(1, 1));
        }
    };
    const auto describe = [&] { return port.Exchange(Frame("03")); };
    EXPECT_EQ(describe(), Frame("83241003")); // blank flash: the --version text
    // A marker without six digits behind it is no version block.
    write("000000", "55AAAA553234313030" + std::string(14, 'F'));
    EXPECT_EQ(describe(), Frame("83241003"));
    // The built-in firmware's block: marker, "241004", 02 00.
    write("000010", "FFFF55AAAA55323431303034020000FF");
    EXPECT_EQ(describe(), Frame("83241004"));
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimLine, PacesRepliesAtTheHostsSpeed) {
    // "g83" + 94 characters + sum + ";" = 100 bytes: 104 ms at 9600 bit/s, 8.7 ms at 115200.
    const std::string text(94, 'D');
    SimProcess sim({"--describe", text});
    const struct {
        speed_t speed;
        double lowMs, highMs;
    } rates[] = {{B9600, 80, 300}, {B115200, 0, 60}};
    for (const auto& rate : rates) {
        HostPort port(sim.Path(), rate.speed);
        const auto start = Clock::now();
        const std::string reply = port.Exchange("g0303;");
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        EXPECT_EQ(reply.size(), 100U);
        EXPECT_GT(ms, rate.lowMs);
        EXPECT_LT(ms, rate.highMs);
        std::printf("100-byte reply at speed code %u: %.1f ms\n", static_cast<unsigned>(rate.speed),
                    ms);
    }
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimLine, WholeRepliesArriveInOnePieceWhenTheirLastByteWould) {
    // 100 bytes at 9600 bit/s: 104 ms on the line, handed over at once at its end.
    SimProcess sim({"--describe", std::string(94, 'D'), "--whole-replies"});
    HostPort port(sim.Path(), B9600);
    const auto start = Clock::now();
    port.Send("g0303;");
    const std::string piece = port.ReadFirstPiece();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_EQ(piece.size(), 100U);
    EXPECT_GT(ms, 80);
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimFaults, RepliesWithheldAndCorruptedAsAsked) {
    // Four tries of one erase frame, then a describe: everything the faults let through
    // comes before the describe reply, in order, so no wait has to guess at a time-out.
    const std::string erase = Frame("04000000");
    const std::string describe = Frame("03");
    const std::string reply = Frame("84");
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string received; // before the describe reply
    } cases[] = {
        {"first two tries of a frame ignored", {"--fail-erase", "2"}, reply + reply},
        {"every second reply lost", {"--drop", "2"}, reply + reply},
        {"every second reply corrupted", {"--garbage", "2"}, "g8484;g8484g8484;g0484;"},
        {"erase never accepted", {"--never-accept", "erase"}, ""},
        {"late replies still come, in order", {"--late-ms", "30"}, reply + reply + reply + reply},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.args);
        HostPort port(sim.Path(), B115200);
        for (int i = 0; i < 4; ++i) {
            port.Send(erase);
        }
        port.Send(describe);
        std::string got;
        const std::string end = Frame("83241003");
        for (int i = 0; i < 10 && got.find(end) == std::string::npos; ++i) {
            got += port.ReadReply();
        }
        EXPECT_EQ(got, c.received + end);
        EXPECT_EQ(sim.Stop(), 0);
    }
}

TEST(SimFaults, NoAnswerAndUnplug) {
    {
        SimProcess sim({"--no-answer"});
        HostPort port(sim.Path(), B115200);
        port.Send("g0202;");
        EXPECT_EQ(port.ReadReply(300ms), ""); // a wide margin over the 0.5 ms a reply takes
        EXPECT_EQ(sim.Stop(), 0);
    }
    TempDir dir;
    const fs::path link = dir / "ttyUSB";
    SimProcess sim(
        {"--unplug-after", "2", "--link", link.string(), "--log-out", (dir / "log.txt").string()});
    HostPort port(link.string(), B115200);
    EXPECT_EQ(port.Exchange("g0202;"), Frame("8202000001400400"));
    EXPECT_EQ(port.Exchange("g0303;"), Frame("83241003")); // the last frame is still answered
    EXPECT_EQ(sim.WaitForExit(5s), 0);
    EXPECT_EQ(port.ReadReply(), ""); // the line is gone
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_NE(ReadFile(dir / "log.txt").find("-- line unplugged"), std::string::npos);
}

TEST(SimLifecycle, ExitsAfterTheSecondRestartAndCleansUp) {
    TempDir dir;
    const fs::path link = dir / "ttyTARVEXSIM0";
    SimProcess sim({"--exit-after-reset", "--link", link.string(), "--flash-out",
                    (dir / "flash.bin").string(), "--log-out", (dir / "log.txt").string()});
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link).string(), sim.Path());
    {
        HostPort port(link.string(), B115200);
        EXPECT_EQ(port.Exchange("g0101;"), "g8181;");
        const auto start = Clock::now();
        EXPECT_EQ(port.Exchange("g0101;"), "g8181;");
        EXPECT_EQ(sim.WaitForExit(5s), 0);
        EXPECT_GT(Clock::now() - start, 200ms); // it lingers so the reply can be read
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_EQ(fs::file_size(dir / "flash.bin"), 64U * 1024U);
    const std::string log = ReadFile(dir / "log.txt");
    EXPECT_NE(log.find("resets: 2\n"), std::string::npos) << log;
    EXPECT_NE(log.find("-- exit after the second restart"), std::string::npos) << log;
}
