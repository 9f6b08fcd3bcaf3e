#include "SimProcess.h"

#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef TARVEX_SIM_PATH
#error "TARVEX_SIM_PATH must name the simulator binary"
#endif

namespace {

constexpr auto ReadyLimit = std::chrono::seconds(20);

// The transcript's direction word for bytes the simulator received.
bool IsReceivedDirection(const std::string& word) {
    return word == "RX";
}

} // namespace

std::string SimBinaryPath() {
    return TARVEX_SIM_PATH;
}

std::string UnescapeTranscript(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'r') {
            out += '\r';
        } else if (c == 'n') {
            out += '\n';
        } else if (c == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

TSimProcess::TSimProcess(std::vector<std::string> args) {
    char pattern[] = "/tmp/tarvex-sim-XXXXXX";
    if (!mkdtemp(pattern)) {
        throw std::runtime_error("mkdtemp failed");
    }
    Dir = pattern;
    LogPath = Dir + "/log.txt";
    FlashPath = Dir + "/flash.bin";
    args.insert(args.end(), {"--log-out", LogPath, "--flash-out", FlashPath});

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    Pid = SpawnChild(SimBinaryPath(), args, out[1], out[1]);
    close(out[1]);
    Reader = std::thread([this, fd = out[0]] { ReadOutput(fd); });

    std::unique_lock lock(Lock);
    const bool ready = Changed.wait_for(lock, ReadyLimit, [this] {
        return OutputClosed || OutputText.find('\n') != std::string::npos;
    });
    const std::string first = OutputText.substr(0, OutputText.find('\n'));
    lock.unlock();
    if (!ready || first.rfind("READY ", 0) != 0) {
        Stop();
        throw std::runtime_error("simulator did not get ready: " + Output());
    }
    Pty = first.substr(6);
}

TSimProcess::~TSimProcess() {
    Stop();
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
}

void TSimProcess::ReadOutput(int fd) {
    char buffer[512];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        const std::lock_guard guard(Lock);
        OutputText.append(buffer, static_cast<std::size_t>(n));
        Changed.notify_all();
    }
    close(fd);
    const std::lock_guard guard(Lock);
    OutputClosed = true;
    Changed.notify_all();
}

int TSimProcess::Stop() {
    if (!Ended && Pid > 0) {
        kill(Pid, SIGTERM);
        while (waitpid(Pid, &Status, 0) < 0 && errno == EINTR) {
        }
        Ended = true;
    }
    if (Reader.joinable()) {
        Reader.join();
    }
    return Status;
}

bool TSimProcess::WaitForExit(std::chrono::milliseconds limit) {
    if (Ended) {
        return true;
    }
    // The output pipe closes when the simulator ends: wait for that, then reap it.
    std::unique_lock lock(Lock);
    const bool closed = Changed.wait_for(lock, limit, [this] { return OutputClosed; });
    lock.unlock();
    if (!closed) {
        return false;
    }
    while (waitpid(Pid, &Status, 0) < 0 && errno == EINTR) {
    }
    Ended = true;
    if (Reader.joinable()) {
        Reader.join();
    }
    return true;
}

std::string TSimProcess::ReadFile(const std::string& path) const {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string TSimProcess::Transcript() const {
    return ReadFile(LogPath);
}

std::string TSimProcess::Flash() const {
    return ReadFile(FlashPath);
}

std::string TSimProcess::Output() const {
    const std::lock_guard guard(Lock);
    return OutputText;
}

std::vector<std::string> TSimProcess::Received() const {
    std::vector<std::string> received;
    std::istringstream lines(Transcript());
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string stamp, direction, bytes;
        if (!(words >> stamp >> direction >> bytes) || !IsReceivedDirection(direction)) {
            continue;
        }
        received.push_back(UnescapeTranscript(bytes));
    }
    return received;
}

std::vector<std::string> TSimProcess::ReceivedFrames() const {
    std::vector<std::string> frames;
    for (auto& r : Received()) {
        if (!r.empty() && r.back() == ';') {
            frames.push_back(r);
        }
    }
    return frames;
}

long TSimProcess::SummaryCount(const std::string& name) const {
    std::istringstream lines(Transcript());
    std::string line;
    const std::string prefix = name + ": ";
    while (std::getline(lines, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
        }
    }
    return -1;
}
