// The texts of UUCP lock files and of /proc, parsed as others may have written them: each
// parser takes what a bounded read gave, reads no further than the text and trusts no number
// in it beyond its range.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The process id a UUCP lock file names: its first number written in text (HDB: ten digits
// and a line end), or a binary int of the old form; 0 when there is none or it is no
// possible process id.
std::int64_t LockFilePid(std::string_view content);

// What the line of /proc/<pid>/stat says of its process.
struct TProcStat {
    char State = '?';        // R, S, D, ... Z: a zombie, X: dead
    std::uint64_t Flags = 0; // the kernel's PF_* flags
};

// None when the line does not have the fields up to the flags.  The program name in its
// parentheses may hold blanks and parentheses of its own.
std::optional<TProcStat> ParseProcStat(std::string_view line);

// A kernel thread (kthreadd and its children) or a process that has ended: neither holds a
// port, whatever a lock file says.
bool IsKernelThread(const TProcStat& stat);
bool HasEnded(const TProcStat& stat);

// The real user id on the "Uid:" line of /proc/<pid>/status.
std::optional<std::uint64_t> StatusUid(std::string_view status);

// A lock held on a file, as one line of /proc/locks names it.
struct TProcLock {
    std::int64_t Pid = 0; // -1 for an open file description's lock
    unsigned Major = 0;   // the file's device
    unsigned Minor = 0;
    std::uint64_t Inode = 0;
};

// None for a waiter ("->") and for a line that does not parse.
std::optional<TProcLock> ParseProcLocksLine(std::string_view line);
