// The parsers of lock files and /proc lines, on texts as others may write them.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "ProcText.h"

namespace {

std::string Binary(std::int32_t pid) {
    return std::string(reinterpret_cast<const char*>(&pid), sizeof pid);
}

TEST(ProcText, TheProcessALockFileNames) {
    const struct Case {
        std::string Content;
        std::int64_t Pid;
    } cases[] = {
        {"      4321\n", 4321},          // HDB
        {"4321", 4321},                  // four digits: text, not the binary form
        {"  1234 minicom ivan\n", 1234}, // what some programs add after the number
        {Binary(4321), 4321},            // the old binary form
        {Binary(-5), 0},
        {Binary(0), 0},
        {"         0\n", 0},
        {"-17\n", 0},
        {"4194304\n", 4194304}, // the largest pid Linux gives
        {"4194305\n", 0},
        {"99999999999999999999999\n", 0}, // no overflow into a small pid
        {"garbage", 0},
        {"", 0},
        {std::string("\0\0\0\0\0", 5), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LockFilePid(c.Content), c.Pid) << c.Content;
    }
}

TEST(ProcText, StatLinesTellKernelThreadsAndEndedProcesses) {
    const struct Case {
        std::string Line;
        bool Parses;
        bool Kernel;
        bool Ended;
    } cases[] = {
        {"2 (kthreadd) S 0 0 0 0 -1 2129984 0 0 0 0", true, true, false},
        {"45 (kworker/0:1-events) I 2 0 0 0 -1 69238880 0 0", true, true, false},
        {"1234 (minicom) S 1 1234 1234 34816 1234 4194560 1 0", true, false, false},
        {"1235 (a) b (c) Z 1 1 1 0 -1 4227332 0 0", true, false, true}, // ")" in the name
        {"1236 (x) X 1 1 1 0 -1 0", true, false, true},
        {"1237 (x) S 1 1 1 0", false, false, false},        // cut before the flags
        {"1238 (x) S 1 1 1 0 -1 12x", false, false, false}, // flags not a number
        {"1239 no parenthesis S 1 1 1 0 -1 0", false, false, false},
        {"", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Line);
        const auto stat = ParseProcStat(c.Line);
        ASSERT_EQ(stat.has_value(), c.Parses);
        if (stat) {
            EXPECT_EQ(IsKernelThread(*stat), c.Kernel);
            EXPECT_EQ(HasEnded(*stat), c.Ended);
        }
    }
}

TEST(ProcText, TheUidOfAStatusText) {
    const struct Case {
        std::string Status;
        std::optional<std::uint64_t> Uid;
    } cases[] = {
        {"Name:\tcu\nUmask:\t0022\nUid:\t1000\t1000\t1000\t1000\nGid:\t5\n", 1000},
        {"Uid:\t0\t0\t0\t0", 0},
        {"Name:\tUid: 7\nUid:\t42\n", 42}, // a name that looks like the key
        {"Name:\tcu\n", std::nullopt},
        {"Uid:\t\n", std::nullopt},
        {"Uid:\t99999999999\n", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StatusUid(c.Status), c.Uid) << c.Status;
    }
}

TEST(ProcText, LinesOfProcLocks) {
    const struct Case {
        std::string Line;
        std::optional<std::int64_t> Pid;
        unsigned Major = 0;
        unsigned Minor = 0;
        std::uint64_t Inode = 0;
    } cases[] = {
        {"1: FLOCK  ADVISORY  WRITE 800 00:1a:131 0 EOF", 800, 0, 0x1a, 131},
        {"2: POSIX  ADVISORY  READ 1234 fd:01:5637 0 EOF", 1234, 0xfd, 1, 5637},
        {"3: OFDLCK ADVISORY  WRITE -1 08:02:7 0 EOF", -1, 8, 2, 7},
        {"4: -> FLOCK  ADVISORY  WRITE 801 00:1a:131 0 EOF", std::nullopt}, // a waiter
        {"5: FLOCK  ADVISORY  WRITE 800 00:1a 0 EOF", std::nullopt},
        {"6: FLOCK  ADVISORY  WRITE 800 zz:1a:131 0 EOF", std::nullopt},
        {"7: FLOCK  ADVISORY  WRITE 99999999999 00:1a:131", std::nullopt},
        {"8: FLOCK", std::nullopt},
        {"9: FLOCK  ADVISORY  WRITE 00 800:1a:131 0 EOF", std::nullopt}, // pid 0: no process
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Line);
        const auto lock = ParseProcLocksLine(c.Line);
        ASSERT_EQ(lock.has_value(), c.Pid.has_value());
        if (lock) {
            EXPECT_EQ(lock->Pid, *c.Pid);
            EXPECT_EQ(lock->Major, c.Major);
            EXPECT_EQ(lock->Minor, c.Minor);
            EXPECT_EQ(lock->Inode, c.Inode);
        }
    }
}

} // namespace
