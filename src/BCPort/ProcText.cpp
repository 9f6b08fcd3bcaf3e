#include "ProcText.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// PF_KTHREAD in include/linux/sched.h.
constexpr std::uint64_t KernelThreadFlag = 0x00200000;
// PID_MAX_LIMIT on 64-bit systems: no process id is larger.
constexpr std::uint64_t LargestPid = 4194304;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

void SkipBlanks(std::string_view& text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
}

// The next blank-separated word, taken off `text`.
std::string_view NextWord(std::string_view& text) {
    SkipBlanks(text);
    std::size_t n = 0;
    while (n < text.size() && !IsBlank(text[n])) {
        ++n;
    }
    const std::string_view word = text.substr(0, n);
    text.remove_prefix(n);
    return word;
}

// A whole word of digits in `base` (10 or 16) up to `largest`.
std::optional<std::uint64_t> Number(std::string_view word, unsigned base, std::uint64_t largest) {
    if (word.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : word) {
        unsigned digit = 0;
        if (IsDigit(c)) {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        if (value > (largest - digit) / base) {
            return std::nullopt;
        }
        value = value * base + digit;
    }
    return value;
}

} // namespace

std::int64_t LockFilePid(std::string_view content) {
    std::string_view text = content;
    SkipBlanks(text);
    std::size_t digits = 0;
    while (digits < text.size() && IsDigit(text[digits])) {
        ++digits;
    }
    if (digits > 0) {
        const auto pid = Number(text.substr(0, digits), 10, LargestPid);
        return pid ? static_cast<std::int64_t>(*pid) : 0;
    }
    if (content.size() == sizeof(std::int32_t)) {
        std::int32_t binary = 0;
        std::memcpy(&binary, content.data(), sizeof binary);
        return binary > 0 && static_cast<std::uint64_t>(binary) <= LargestPid ? binary : 0;
    }
    return 0;
}

std::optional<TProcStat> ParseProcStat(std::string_view line) {
    const std::size_t close = line.rfind(')');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view rest = line.substr(close + 1);
    const std::string_view state = NextWord(rest);
    // ppid, pgrp, session, tty_nr and tpgid come before the flags.
    for (int field = 0; field < 5; ++field) {
        if (NextWord(rest).empty()) {
            return std::nullopt;
        }
    }
    const auto flags = Number(NextWord(rest), 10, std::numeric_limits<std::uint64_t>::max());
    if (state.size() != 1 || !flags) {
        return std::nullopt;
    }
    return TProcStat{state.front(), *flags};
}

bool IsKernelThread(const TProcStat& stat) {
    return (stat.Flags & KernelThreadFlag) != 0;
}

bool HasEnded(const TProcStat& stat) {
    return stat.State == 'Z' || stat.State == 'X' || stat.State == 'x';
}

std::optional<std::uint64_t> StatusUid(std::string_view status) {
    constexpr std::string_view Key = "Uid:";
    for (std::size_t start = 0; start < status.size();) {
        const std::size_t end = std::min(status.find('\n', start), status.size());
        std::string_view line = status.substr(start, end - start);
        if (line.substr(0, Key.size()) == Key) {
            line.remove_prefix(Key.size());
            return Number(NextWord(line), 10, std::numeric_limits<std::uint32_t>::max());
        }
        start = end + 1;
    }
    return std::nullopt;
}

std::optional<TProcLock> ParseProcLocksLine(std::string_view line) {
    if (line.find("->") != std::string_view::npos) {
        return std::nullopt; // a waiter, not a holder
    }
    // "1: FLOCK  ADVISORY  WRITE 1234 08:02:131 0 EOF": number, class, kind, access, pid,
    // device and inode.
    for (int field = 0; field < 4; ++field) {
        if (NextWord(line).empty()) {
            return std::nullopt;
        }
    }
    const std::string_view pidWord = NextWord(line);
    TProcLock lock;
    if (pidWord == "-1") {
        lock.Pid = -1;
    } else if (const auto pid = Number(pidWord, 10, LargestPid); pid && *pid > 0) {
        lock.Pid = static_cast<std::int64_t>(*pid);
    } else {
        return std::nullopt; // no number, or pid 0, which no process has
    }
    const std::string_view file = NextWord(line);
    const std::size_t first = file.find(':');
    const std::size_t second = first == std::string_view::npos ? first : file.find(':', first + 1);
    if (second == std::string_view::npos) {
        return std::nullopt;
    }
    const auto major = Number(file.substr(0, first), 16, std::numeric_limits<unsigned>::max());
    const auto minor = Number(file.substr(first + 1, second - first - 1), 16,
                              std::numeric_limits<unsigned>::max());
    const auto inode =
        Number(file.substr(second + 1), 10, std::numeric_limits<std::uint64_t>::max());
    if (!major || !minor || !inode) {
        return std::nullopt;
    }
    lock.Major = static_cast<unsigned>(*major);
    lock.Minor = static_cast<unsigned>(*minor);
    lock.Inode = *inode;
    return lock;
}
